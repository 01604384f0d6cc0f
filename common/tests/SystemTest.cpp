#include "common/NSCheckerTool.h"
#include "testsupport/TestSupport.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>

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

TEST(SystemTest, CopyCommandReadsTheTextFromStandardInput) {
  struct Case {
    const char* to;
    bool missing;
    const char* command;
  } cases[] = {
      {"/etc/hosts", false, "pkexec /bin/cp -T /dev/stdin /etc/hosts"},
      {"/usr/share/applications/tolvane-url.desktop", false,
       "pkexec /bin/cp -T /dev/stdin /usr/share/applications/tolvane-url.desktop"},
      {"/etc/hosts", true, "pkexec /usr/bin/install -m 0644 -T /dev/stdin /etc/hosts"},
      {"/etc/my hosts", false, "pkexec /bin/cp -T /dev/stdin '/etc/my hosts'"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.command, NSCheckerTool::CopyCommand(c.to, c.missing));
  }
}

TEST(SystemTest, PathKeepsOnlyAbsoluteElements) {
  struct Case {
    const char* path;
    const char* clean;
  } cases[] = {
      {"/usr/bin:/bin", "/usr/bin:/bin"},
      {":/usr/bin", "/usr/bin"},
      {"/usr/bin:", "/usr/bin"},
      {"/usr/bin::/bin", "/usr/bin:/bin"},
      {"bin:./x:/usr/bin:~/bin", "/usr/bin"},
      {"", "/bin:/usr/bin"},
      {".", "/bin:/usr/bin"},
      {":", "/bin:/usr/bin"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(c.clean, NSCheckerTool::AbsolutePath(c.path));
  }
}

// The shell of System never looks in the working directory, and PATH is
// as it was afterwards.
TEST(SystemTest, NothingRunsFromTheWorkingDirectory) {
  char dirTemplate[] = "/tmp/checktool-cwd.XXXXXX";
  ASSERT_NE(nullptr, ::mkdtemp(dirTemplate));
  const std::string dir = dirTemplate;
  const std::string planted = dir + "/planted-cmd";
  FILE* script = std::fopen(planted.c_str(), "w");
  ASSERT_NE(nullptr, script);
  std::fputs("#!/bin/sh\nexit 0\n", script);
  std::fclose(script);
  ASSERT_EQ(0, ::chmod(planted.c_str(), 0755));
  char cwd[4096];
  ASSERT_NE(nullptr, ::getcwd(cwd, sizeof cwd));
  ASSERT_EQ(0, ::chdir(dir.c_str()));
  const char* old = std::getenv("PATH");
  const std::string kept = old ? old : "";
  for (const char* path : {"", ":/usr/bin:/bin", "/usr/bin:/bin:", "."}) {
    SCOPED_TRACE(path);
    ::setenv("PATH", path, 1);
    EXPECT_NE(0, NSCheckerTool::System("planted-cmd 2>/dev/null"));
    EXPECT_EQ(0, NSCheckerTool::System("true"));  // found through the default path
    EXPECT_STREQ(path, std::getenv("PATH"));
  }
  ::setenv("PATH", kept.c_str(), 1);
  EXPECT_EQ(0, ::chdir(cwd));
  ::unlink(planted.c_str());
  ::rmdir(dir.c_str());
}

// A command ended by SIGINT or SIGQUIT (or a shell reporting so) marks the
// run as interrupted; other failures do not. Each case runs in a child,
// since the mark lasts for the process.
TEST(SystemTest, AnInterruptedCommandIsRemembered) {
  struct Case {
    const char* command;
    int signal;
  } cases[] = {
      {"exit 1", 0},
      {"kill -TERM $$", 0},
      {"exit 126", 0},
      {"kill -INT $$", SIGINT},
      {"kill -QUIT $$", SIGQUIT},
      {"exit 130", SIGINT},
      {"exit 131", SIGQUIT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    pid_t child = ::fork();
    ASSERT_NE(-1, child);
    if (child == 0) {
      // As from a terminal, whatever our parent ignored; and no core files.
      (void)std::signal(SIGINT, SIG_DFL);
      (void)std::signal(SIGQUIT, SIG_DFL);
      const struct rlimit noCore { 0, 0 };
      (void)::setrlimit(RLIMIT_CORE, &noCore);
      const int before = NSCheckerTool::InterruptSignal();
      (void)NSCheckerTool::System(c.command);
      const int after = NSCheckerTool::InterruptSignal();
      (void)NSCheckerTool::System("exit 0");  // a later success does not clear it
      ::_exit(before == 0 && after == c.signal && NSCheckerTool::InterruptSignal() == c.signal ? 0
                                                                                               : 1);
    }
    int status = 0;
    ASSERT_EQ(child, ::waitpid(child, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
}

// A stop signal sent to the caller alone while a command runs (here by the
// command itself) is neither lost nor left to end the caller at once: it is
// remembered, passed on to what the shell started, and System returns once
// that is gone. Each case in a child, since the mark lasts for the process.
TEST(SystemTest, AStopSignalToTheCallerEndsTheCommandAndIsRemembered) {
  for (const int stop : {SIGINT, SIGQUIT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(stop);
    const std::string marker = "CHECKTOOL_TEST_MARK_" + std::to_string(::getpid());
    EXPECT_TRUE(testsupport::InChild([&] {
      const struct rlimit noCore { 0, 0 };
      (void)::setrlimit(RLIMIT_CORE, &noCore);
      NSCheckerTool::CatchStopSignals();
      const int status = NSCheckerTool::System("kill -" + std::to_string(stop) + " $PPID; " +
                                               marker + "=1 sleep 20");
      // The shell reports its child's end by the signal.
      return WIFEXITED(status) && WEXITSTATUS(status) == 128 + stop &&
             NSCheckerTool::InterruptSignal() == stop &&
             std::system(("! grep -q -s -a " + marker + " /proc/[0-9]*/environ").c_str()) == 0;
    }));
  }
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
