#include "common/NSCheckerTool.h"
#include "common/Repair.h"
#include "testsupport/TestSupport.h"

#include <fcntl.h>
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

// The command's SIGCHLD is the runner's: a handler of the caller's never
// sees it.
TEST(SystemTest, TheCallersSigchldHandlerDoesNotSeeTheCommand) {
  EXPECT_TRUE(testsupport::InChild([] {
    static volatile std::sig_atomic_t seen = 0;
    (void)std::signal(SIGCHLD, [](int) { seen = seen + 1; });
    const int status = NSCheckerTool::System("exit 0");
    return status == 0 && seen == 0;
  }));
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
  using Args = std::vector<std::string>;
  EXPECT_EQ((Args{"pkexec", "/bin/cp", "-T", "-u", "--no-preserve=mode", "/dev/stdin", "/etc/hosts"}),
            NSCheckerTool::CopyCommand("/etc/hosts", false));
  EXPECT_EQ((Args{"pkexec", "/bin/cp", "-T", "-n", "--no-preserve=mode", "/dev/stdin", "/etc/my hosts"}),
            NSCheckerTool::CopyCommand("/etc/my hosts", true));
}

// The staged text is dated just after the file as it was read, so that cp -u
// replaces that file and nothing written to it later.
TEST(SystemTest, TheStagedTextIsDatedJustAfterTheFile) {
  struct Case {
    struct timespec modified;
    struct timespec stamp;
  } cases[] = {
      {{1700000000, 0}, {1700000000, 1}},
      {{1700000000, 500}, {1700000000, 501}},
      {{1700000000, 999999999}, {1700000001, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.modified.tv_nsec);
    const struct timespec stamp = NSCheckerTool::StampAfter(c.modified);
    EXPECT_EQ(c.stamp.tv_sec, stamp.tv_sec);
    EXPECT_EQ(c.stamp.tv_nsec, stamp.tv_nsec);
  }
}

// pkexec gets only what it accepts: it refuses to run for a SHELL missing
// from /etc/shells, and for a "/", "%" or ".." in a variable it passes on.
TEST(SystemTest, PkexecGetsAnEnvironmentItAccepts) {
  EXPECT_TRUE(testsupport::InChild([] {
    ::clearenv();
    for (const char* entry :
         {"PATH=:/usr/bin:bin", "SHELL=/usr/local/bin/zsh", "LANG=../x", "LC_ALL=%s",
          "LANGUAGE=en_US..UTF-8",
          "LC_TIME=en_GB.UTF-8", "LC_CTYPE=/usr/lib/locale/x", "TERM=xterm-256color", "DISPLAY=:0",
          "XAUTHORITY=/run/user/1000/xauth", "HOME=/home/a", "LD_PRELOAD=/tmp/x.so"}) {
      ::putenv(const_cast<char*>(entry));
    }
    return NSCheckerTool::PkexecEnvironment() ==
           std::vector<std::string>{"PATH=/usr/bin", "LC_TIME=en_GB.UTF-8", "TERM=xterm-256color",
                                    "DISPLAY=:0", "XAUTHORITY=/run/user/1000/xauth"};
  }));
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
// remembered, and the command, the one child, is ended at once, even where
// it ignores every stop signal. The first stop is the one remembered. Each
// case in a child, since the mark lasts for the process.
TEST(SystemTest, AStopSignalToTheCallerEndsTheCommandAndIsRemembered) {
  for (const int stop : {SIGINT, SIGQUIT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(stop);
    const std::string marker = "CHECKTOOL_TEST_MARK_" + std::to_string(::getpid());
    EXPECT_TRUE(testsupport::InChild([&] {
      const struct rlimit noCore { 0, 0 };
      (void)::setrlimit(RLIMIT_CORE, &noCore);
      NSCheckerTool::CatchStopSignals();
      const int status = NSCheckerTool::System("trap '' INT QUIT TERM HUP; kill -" +
                                               std::to_string(stop) + " $PPID; exec env " +
                                               marker + "=1 sleep 20");
      return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL &&
             NSCheckerTool::InterruptSignal() == stop &&
             std::system(("! grep -q -s -a " + marker + " /proc/[0-9]*/environ").c_str()) == 0;
    }));
  }
  EXPECT_TRUE(testsupport::InChild([] {
    NSCheckerTool::CatchStopSignals();
    (void)::raise(SIGTERM);
    (void)::raise(SIGHUP);
    // A stop caught before a command starts ends it as soon as it runs.
    const int status = NSCheckerTool::System("exec sleep 20");
    return NSCheckerTool::InterruptSignal() == SIGTERM && NSCheckerTool::StopCount() == 2 &&
           WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
  }));
}

// A signal that the program was started with ignored (nohup, a background
// job of a script) stays ignored; the others are caught.
TEST(SystemTest, ASignalIgnoredAtStartStaysIgnored) {
  EXPECT_TRUE(testsupport::InChild([] {
    (void)std::signal(SIGHUP, SIG_IGN);
    (void)std::signal(SIGTERM, SIG_DFL);
    NSCheckerTool::CatchStopSignals();
    (void)::raise(SIGHUP);
    const bool ignored = NSCheckerTool::InterruptSignal() == 0;
    (void)::raise(SIGTERM);
    return ignored && NSCheckerTool::InterruptSignal() == SIGTERM;
  }));
}

// A command's standard input: the program's own, or the descriptor given,
// even one that is close-on-exec (as every descriptor of the program's is).
TEST(SystemTest, TheCommandReadsTheInputItIsGiven) {
  int fds[2];
  ASSERT_EQ(0, ::pipe2(fds, O_CLOEXEC));
  ASSERT_EQ(6, ::write(fds[1], "ok\nok\n", 6));  // a line for each command
  ::close(fds[1]);
  EXPECT_TRUE(testsupport::InChild([&] {
    return ::dup2(fds[0], STDIN_FILENO) == STDIN_FILENO &&
           ::fcntl(STDIN_FILENO, F_SETFD, FD_CLOEXEC) == 0 &&
           NSCheckerTool::System("read line && [ \"$line\" = ok ]", STDIN_FILENO) == 0;
  }));
  EXPECT_EQ(0, NSCheckerTool::System("read line && [ \"$line\" = ok ]", fds[0]));
  ::close(fds[0]);
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
