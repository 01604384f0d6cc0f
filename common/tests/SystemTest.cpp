#include "common/NSCheckerTool.h"
#include "testsupport/TestSupport.h"

#include <csignal>

TEST(SystemTest, ReturnsTheRawStatusOfTheShell) {
  struct Case {
    const char* command;
    int status;
  } cases[] = {
      {"exit 0", 0},
      {"exit 1", 1 << 8},
      {"exit 3", 3 << 8},
      {"kill -TERM $$", SIGTERM},
      {"no-such-command-here 2>/dev/null", 127 << 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    EXPECT_EQ(c.status, NSCheckerTool::System(c.command));
  }
}

TEST(SystemTest, SeesTheRealStatusWhenSigchldIsIgnored) {
  void (*before)(int) = std::signal(SIGCHLD, SIG_IGN);
  int status = NSCheckerTool::System("exit 1");
  void (*after)(int) = std::signal(SIGCHLD, before);
  EXPECT_EQ(1 << 8, status);  // ignored SIGCHLD would make a failure look like success
  EXPECT_EQ(SIG_IGN, after);
}

TEST(SystemTest, TempPathIgnoresTheEnvironment) {
  const char* old = std::getenv("TMPDIR");
  std::string kept = old ? old : "";
  ::setenv("TMPDIR", "/var/tmp", 1);
  EXPECT_EQ("/tmp", NSCheckerTool::GetOSTempPath());
  if (old) {
    ::setenv("TMPDIR", kept.c_str(), 1);
  } else {
    ::unsetenv("TMPDIR");
  }
}

TEST(SystemTest, MoveCommandKeepsPlainPathsAsTheyStand) {
  EXPECT_EQ("pkexec mv /tmp/check_hosts_tmp /etc/hosts",
            NSCheckerTool::MoveCommand("/tmp/check_hosts_tmp", "/etc/hosts"));
  EXPECT_EQ("pkexec mv /tmp/check_hosts_tmp /usr/share/applications/tolvane-url.desktop",
            NSCheckerTool::MoveCommand("/tmp/check_hosts_tmp",
                                       "/usr/share/applications/tolvane-url.desktop"));
}

TEST(SystemTest, QuotedPathsReachTheCommandUnchanged) {
  const char* paths[] = {"/a b/c", "/x;rm -rf y", "/it's", "/$HOME/`id`", "/tab\there", "", "-n"};
  for (const char* path : paths) {
    SCOPED_TRACE(path);
    std::string out;
    std::string command = "printf '%s' " + NSCheckerTool::QuoteForShell(path);
    FILE* shell = ::popen(command.c_str(), "r");
    ASSERT_NE(nullptr, shell);
    char buffer[256];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, shell)) > 0) {
      out.append(buffer, n);
    }
    ::pclose(shell);
    EXPECT_EQ(path, out);
  }
}
