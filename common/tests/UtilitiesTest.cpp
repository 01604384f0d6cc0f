#include "common/NSCheckerTool.h"

#include "testsupport/TestSupport.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <csignal>

using namespace testsupport;
namespace ns = NSCheckerTool;

class UtilitiesTest : public TempDirTest {
 protected:
  // Runs body in a child process and answers its exit status.
  template <typename Body>
  int InChild(Body body) {
    std::fflush(nullptr);
    pid_t child = ::fork();
    if (child == 0) {
      ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
};

TEST_F(UtilitiesTest, SplitsPathsAtEitherSeparator) {
  struct Case {
    const char* path;
    const char* dir;
    const char* name;
  } cases[] = {
      {"/usr/bin/tool", "/usr/bin/", "tool"},
      {"C:\\dir\\file", "C:\\dir\\", "file"},
      {"tool", "tool", "tool"},
      {"/usr/bin/", "/usr/bin/", ""},
      {"", "", ""},
      {"/", "/", ""},
      {"a\\b/c", "a\\b/", "c"},
      {"/x", "/", "x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(c.dir, ns::GetPath(c.path));
    EXPECT_EQ(c.name, ns::GetFileName(c.path));
  }
}

TEST_F(UtilitiesTest, CreateDirMakesEveryMissingParent) {
  ns::CreateDir(Path("a/b/c"), false);
  EXPECT_TRUE(ns::FileIsExists(Path("a/b/c")));
  ns::CreateDir(Path("f/g/file.txt"), true);
  EXPECT_TRUE(ns::FileIsExists(Path("f/g")));
  EXPECT_FALSE(ns::FileIsExists(Path("f/g/file.txt")));
  ns::CreateDir(Path("w\\x"), false);  // a backslash separates too
  EXPECT_TRUE(ns::FileIsExists(Path("w")));
  EXPECT_TRUE(ns::FileIsExists(Path("w\\x")));

  mode_t oldMask = ::umask(0);
  ns::CreateDir(Path("m/n"), false);
  ::umask(oldMask);
  EXPECT_EQ(0775u, ModeOf(Path("m/n")));

  // No separator after the first character: the whole path is the directory.
  const std::string cwd = m_strTmpDir;
  EXPECT_EQ(0, InChild([&] {
              if (::chdir(cwd.c_str()) != 0) return 2;
              ns::CreateDir("single", true);
              ns::CreateDir("/", true);
              return ns::FileIsExists("single") ? 0 : 1;
            }));
}

TEST_F(UtilitiesTest, ManagerDataPathLivesUnderHome) {
  SetEnv("HOME", Path("home").c_str());
  EXPECT_EQ(Path("home") + "/.config", ns::GetAppDataPath());
  EXPECT_EQ(Path("home") + "/.config/Tolvane/", ns::GetManagerDataPath());
  EXPECT_TRUE(ns::FileIsExists(Path("home/.config/Tolvane")));

  ns::SetConfigPath("");
  EXPECT_EQ("Tolvane", ns::GetConfigPath());
  ns::SetConfigPath("Other");
  EXPECT_EQ(Path("home") + "/.config/Other/", ns::GetManagerDataPath());
  ns::SetConfigPath("Tolvane");

  ns::SetAppName("");
  EXPECT_EQ("Tolvane", ns::GetAppName());
  ns::SetAppName("Probe");
  EXPECT_EQ("Probe", ns::GetAppName());
  ns::SetAppName("Tolvane");
}

TEST_F(UtilitiesTest, WithoutHomeThePasswordDatabaseDecides) {
  SetEnv("HOME", nullptr);
  const struct passwd* me = ::getpwuid(::getuid());
  ASSERT_NE(nullptr, me);
  EXPECT_EQ(std::string(me->pw_dir) + "/.config", ns::GetAppDataPath());

  if (!RunningAsRoot()) {
    GTEST_SKIP() << "needs root to become a user without a password entry";
  }
  const std::string dir = m_strTmpDir;
  ASSERT_EQ(0, ::chmod(dir.c_str(), 0777));
  // A user the password database does not know: nothing to build on, and
  // nothing may be created relative to the working directory.
  EXPECT_EQ(0, InChild([&] {
              if (::chdir(dir.c_str()) != 0 || ::setresgid(54321, 54321, 54321) != 0 ||
                  ::setresuid(54321, 54321, 54321) != 0) {
                return 2;
              }
              if (::getpwuid(54321) != nullptr) return 3;
              if (!ns::GetAppDataPath().empty() || !ns::GetManagerDataPath().empty()) return 1;
              return ns::ListFiles(".", true).empty() ? 0 : 4;
            }));
}

TEST_F(UtilitiesTest, ListFilesLeavesOutDirectoriesOnly) {
  ASSERT_EQ(0, ::mkdir(Path("d").c_str(), 0755));
  WriteFile(Path("d/file"), "");
  ASSERT_EQ(0, ::mkdir(Path("d/sub").c_str(), 0755));
  ASSERT_EQ(0, ::mkfifo(Path("d/fifo").c_str(), 0644));
  ASSERT_EQ(0, ::symlink("sub", Path("d/link").c_str()));
  int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(sock, 0);
  struct sockaddr_un address {};
  address.sun_family = AF_UNIX;
  const std::string sockPath = Path("d/sock");
  ASSERT_LT(sockPath.size(), sizeof address.sun_path);
  std::copy(sockPath.begin(), sockPath.end(), address.sun_path);
  ASSERT_EQ(0, ::bind(sock, reinterpret_cast<struct sockaddr*>(&address), sizeof address));
  ::close(sock);

  std::vector<std::string> plain = ns::ListFiles(Path("d"), false);
  std::vector<std::string> all = ns::ListFiles(Path("d"), true);
  std::sort(plain.begin(), plain.end());
  std::sort(all.begin(), all.end());
  EXPECT_EQ((std::vector<std::string>{"fifo", "file", "link", "sock"}), plain);
  EXPECT_EQ((std::vector<std::string>{"fifo", "file", "link", "sock", "sub"}), all);
  EXPECT_TRUE(ns::ListFiles(Path("missing"), true).empty());
}

TEST_F(UtilitiesTest, FilePredicatesAndDeletion) {
  WriteFile(Path("file"), "x", 0444);
  ASSERT_EQ(0, ::mkdir(Path("dir").c_str(), 0755));
  EXPECT_TRUE(ns::FileIsExists(Path("file")));
  EXPECT_FALSE(ns::FileIsExists(Path("missing")));
  EXPECT_FALSE(ns::PathIsExists(Path("missing")));
  EXPECT_TRUE(ns::PathIsExists(Path("dir")));
  if (!RunningAsRoot()) {
    EXPECT_FALSE(ns::PathIsExists(Path("file")));  // root may write anything
  }
  EXPECT_TRUE(ns::DeleteFile(Path("file")));
  EXPECT_FALSE(ns::DeleteFile(Path("file")));
  EXPECT_TRUE(ns::DeleteFile(Path("dir")));
  EXPECT_FALSE(ns::FileIsExists(Path("dir")));
}

TEST_F(UtilitiesTest, StringHelpers) {
  EXPECT_EQ("10.0.0.1:8080", ns::make_address("10.0.0.1", 8080));
  EXPECT_EQ("h:0", ns::make_address("h", 0));
  EXPECT_EQ("h:65535", ns::make_address("h", 65535));
  EXPECT_EQ("b_a_7", ns::MakeUserID("a", 7, "b"));
  EXPECT_EQ("_x_65535", ns::MakeUserID("x", 65535, ""));
  struct Case {
    const char* hex;
    std::string bytes;
  } cases[] = {
      {"41420a", "AB\n"},
      {"414", "A"},
      {"", ""},
      {"FFff", "\xff\xff"},
      {"zz41", std::string("\0A", 2)},
      {"4z", "\x04"},
      {"00", std::string(1, '\0')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.hex);
    EXPECT_EQ(c.bytes, ns::toString(c.hex));
  }
  EXPECT_EQ("中文", ns::ANSItoUTF8("中文"));
  EXPECT_EQ("中文", ns::UTF8toANSI("中文"));
  EXPECT_EQ("", ns::GetIpAddress("localhost"));
}

TEST_F(UtilitiesTest, ReadClientVersionAnswersEmptyForAnythingMissing) {
  WriteFile(Path("ok.xml"), "<?xml version=\"1.0\"?><client_version version=\"3.2.1\"/>");
  WriteFile(Path("noattr.xml"), "<client_version/>");
  WriteFile(Path("other.xml"), "<version version=\"1\"/>");
  WriteFile(Path("bad.xml"), "<client_version version=\"1\"");
  EXPECT_EQ("3.2.1", ns::ReadClientVersion(Path("ok.xml")));
  for (const char* name : {"noattr.xml", "other.xml", "bad.xml", "missing.xml"}) {
    EXPECT_EQ("", ns::ReadClientVersion(Path(name))) << name;
  }
}

// The probe, copied below a directory path far longer than 260 bytes,
// reports its arguments and its own directory.
TEST_F(UtilitiesTest, StartProgramPassesTheListAsTheWholeArgumentVector) {
  std::string deep = m_strTmpDir;
  while (deep.size() < 400) {
    deep += "/a-rather-long-directory-name";
    ASSERT_EQ(0, ::mkdir(deep.c_str(), 0755));
  }
  const std::string probe = deep + "/probe";
  WriteFile(probe, ReadFile(UTILITY_PROBE), 0755);
  SetEnv("PROBE_OUT", Path("out").c_str());

  struct Case {
    std::vector<std::string> args;
    std::string expected;
  } cases[] = {
      {{"x", "y"}, "2\nx\ny\n" + deep + "/\n"},
      {{"only"}, "1\nonly\n" + deep + "/\n"},
  };
  for (const Case& c : cases) {
    ::unlink(Path("out").c_str());
    ASSERT_TRUE(ns::StartProgram(probe, c.args));
    int status = 0;
    ASSERT_GT(::wait(&status), 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(c.expected, ReadFile(Path("out")));
  }

  // With no arguments at all, Linux itself may supply an empty argument 0.
  ::unlink(Path("out").c_str());
  ASSERT_TRUE(ns::StartProgram(probe, {}));
  int status = 0;
  ASSERT_GT(::wait(&status), 0);
  const std::string out = ReadFile(Path("out"));
  EXPECT_TRUE(out == "0\n" + deep + "/\n" || out == "1\n\n" + deep + "/\n") << out;
}

TEST_F(UtilitiesTest, AFailedStartEndsTheChildWithoutFlushingTheParentsBuffers) {
  const std::string out = Path("stdout");
  // A child of ours plays the parent: it leaves text in its stdout buffer,
  // starts a program that does not exist and waits for it.
  int status = InChild([&] {
    if (std::freopen(out.c_str(), "w", stdout) == nullptr) return 2;
    std::fputs("written once", stdout);
    if (!ns::StartProgram("/nonexistent/program", {"x"})) return 3;
    int childStatus = 0;
    if (::wait(&childStatus) < 0) return 4;
    std::fflush(stdout);  // our own copy of the text, written exactly once
    return WIFEXITED(childStatus) ? WEXITSTATUS(childStatus) : 5;
  });
  EXPECT_EQ(255, status);
  EXPECT_EQ("written once", ReadFile(out));
}

TEST_F(UtilitiesTest, SleepMsWaitsForEveryThirtyTwoBitValue) {
  const std::int64_t before = ns::GetTimeStamp();
  ns::sleep_ms(30);
  EXPECT_GE(ns::GetTimeStamp() - before, 30);

  // 4294968 ms overflows a 32-bit microsecond count to about 1.7 ms; the
  // child must still be asleep long after that.
  for (std::uint32_t ms : {4294968u, 4294967295u}) {
    SCOPED_TRACE(ms);
    pid_t child = ::fork();
    ASSERT_NE(-1, child);
    if (child == 0) {
      ns::sleep_ms(ms);
      ::_exit(0);
    }
    ns::sleep_ms(300);
    int status = 0;
    EXPECT_EQ(0, ::waitpid(child, &status, WNOHANG)) << "woke up early";
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
  }
}

namespace {
volatile sig_atomic_t s_nAlarms = 0;
void CountAlarm(int) { s_nAlarms = s_nAlarms + 1; }
}  // namespace

// A signal whose handler runs during the sleep does not cut it short.
TEST_F(UtilitiesTest, SleepMsSleepsOnThroughAHandledSignal) {
  struct sigaction counting {};
  struct sigaction old {};
  counting.sa_handler = CountAlarm;
  sigemptyset(&counting.sa_mask);
  counting.sa_flags = 0;  // no SA_RESTART: the sleep sees EINTR
  ASSERT_EQ(0, ::sigaction(SIGALRM, &counting, &old));
  s_nAlarms = 0;
  struct itimerval once {};
  once.it_value.tv_usec = 50L * 1000;
  ASSERT_EQ(0, ::setitimer(ITIMER_REAL, &once, nullptr));
  const std::int64_t before = ns::GetTimeStamp();
  ns::sleep_ms(300);
  const std::int64_t slept = ns::GetTimeStamp() - before;
  ::sigaction(SIGALRM, &old, nullptr);
  EXPECT_EQ(1, s_nAlarms);  // the handler ran while we slept
  EXPECT_GE(slept, 300);
}
