#include "common/FileIO.h"
#include "common/RunLock.h"
#include "testsupport/TestSupport.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <functional>

using namespace testsupport;
using NSCheckerTool::ReadResult;

class FileIOTest : public TempDirTest {};

TEST_F(FileIOTest, ReadWholeFileTellsMissingFromUnreadable) {
  WriteFile(Path("plain"), "127.0.0.1 a\n::1 b");
  WriteFile(Path("empty"), "");
  ASSERT_EQ(0, ::mkdir(Path("dir").c_str(), 0755));
  ASSERT_EQ(0, ::mkfifo(Path("fifo").c_str(), 0644));  // must not block the read
  struct Case {
    const char* name;
    ReadResult result;
    const char* bytes;
  } cases[] = {
      {"plain", ReadResult::Ok, "127.0.0.1 a\n::1 b"},
      {"empty", ReadResult::Ok, ""},
      {"missing", ReadResult::Missing, ""},
      {"dir", ReadResult::Failed, ""},
      {"fifo", ReadResult::Failed, ""},
      {"plain/below-a-file", ReadResult::Failed, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string bytes;
    EXPECT_EQ(c.result, NSCheckerTool::ReadWholeFile(Path(c.name), bytes));
    EXPECT_EQ(c.bytes, bytes);
  }
}

TEST_F(FileIOTest, ReadWholeFileRefusesAFileWithoutReadPermission) {
  if (RunningAsRoot()) {
    GTEST_SKIP() << "root reads any file";
  }
  WriteFile(Path("secret"), "x\n", 0000);
  std::string bytes;
  EXPECT_EQ(ReadResult::Failed, NSCheckerTool::ReadWholeFile(Path("secret"), bytes));
}

TEST_F(FileIOTest, RepairFileTakesTheTargetsModeWhateverTheUmask) {
  WriteFile(Path("target"), "old\n", 0640);
  mode_t oldMask = ::umask(077);
  bool written = NSCheckerTool::WriteRepairFile(Path("tmp"), "new text\n", Path("target"));
  bool writtenForMissing = NSCheckerTool::WriteRepairFile(Path("tmp2"), "x", Path("no-target"));
  ::umask(oldMask);
  ASSERT_TRUE(written);
  ASSERT_TRUE(writtenForMissing);
  EXPECT_EQ("new text\n", ReadFile(Path("tmp")));
  EXPECT_EQ(0640u, ModeOf(Path("tmp")));
  EXPECT_EQ(0644u, ModeOf(Path("tmp2")));
  EXPECT_EQ("old\n", ReadFile(Path("target")));
}

TEST_F(FileIOTest, RepairFileReplacesWhateverStandsAtItsPathWithoutFollowingIt) {
  WriteFile(Path("victim"), "victim's own text\n", 0600);
  struct Case {
    const char* what;
    std::function<void(const std::string&)> plant;
  } cases[] = {
      {"stale file", [](const std::string& p) { WriteFile(p, "a much longer stale text\n"); }},
      {"link to a file",
       [&](const std::string& p) { ASSERT_EQ(0, ::symlink(Path("victim").c_str(), p.c_str())); }},
      {"dangling link",
       [&](const std::string& p) { ASSERT_EQ(0, ::symlink(Path("nowhere").c_str(), p.c_str())); }},
      {"fifo", [](const std::string& p) { ASSERT_EQ(0, ::mkfifo(p.c_str(), 0666)); }},
      {"empty directory", [](const std::string& p) { ASSERT_EQ(0, ::mkdir(p.c_str(), 0777)); }},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string tmp = Path("tmp" + std::to_string(n++));
    c.plant(tmp);
    ASSERT_TRUE(NSCheckerTool::WriteRepairFile(tmp, "fresh\n", Path("victim")));
    struct stat st {};
    ASSERT_EQ(0, ::lstat(tmp.c_str(), &st));
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ("fresh\n", ReadFile(tmp));
    EXPECT_FALSE(Exists(Path("nowhere")));
  }
  EXPECT_EQ("victim's own text\n", ReadFile(Path("victim")));
}

TEST_F(FileIOTest, RepairFileFailsOnWhatItCannotRemove) {
  ASSERT_EQ(0, ::mkdir(Path("tmp").c_str(), 0755));
  WriteFile(Path("tmp/inside"), "keep\n");
  EXPECT_FALSE(NSCheckerTool::WriteRepairFile(Path("tmp"), "x", Path("target")));
  EXPECT_EQ("keep\n", ReadFile(Path("tmp/inside")));
  EXPECT_FALSE(NSCheckerTool::WriteRepairFile(Path("missing-dir/tmp"), "x", Path("target")));
}

// In a sticky shared directory another user's file can be neither written
// nor removed by an ordinary user: the repair must fail and leave it alone.
TEST_F(FileIOTest, AnotherUsersPlantedFileMakesAnOrdinaryUsersRepairFail) {
  if (!RunningAsRoot()) {
    GTEST_SKIP() << "needs root to act as two users";
  }
  std::string shared = Path("shared");
  ASSERT_EQ(0, ::mkdir(shared.c_str(), 0777));
  ASSERT_EQ(0, ::chmod(shared.c_str(), 01777));
  ASSERT_EQ(0, ::chmod(m_strTmpDir.c_str(), 0755));
  std::string tmp = shared + "/check_hosts_tmp";
  WriteFile(tmp, "attacker\n", 0666);
  ASSERT_EQ(0, ::chown(tmp.c_str(), 65534, 65534));

  pid_t child = ::fork();
  ASSERT_NE(-1, child);
  if (child == 0) {
    if (::setresgid(65533, 65533, 65533) != 0 || ::setresuid(65533, 65533, 65533) != 0) {
      ::_exit(2);
    }
    ::_exit(NSCheckerTool::WriteRepairFile(tmp, "victim text\n", "/nonexistent") ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(child, ::waitpid(child, &status, 0));
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status)) << "1: the write went through, 2: could not change user";
  EXPECT_EQ("attacker\n", ReadFile(tmp));

  // Root may remove it, and does, writing a file of its own.
  ASSERT_TRUE(NSCheckerTool::WriteRepairFile(tmp, "root text\n", "/nonexistent"));
  struct stat st {};
  ASSERT_EQ(0, ::lstat(tmp.c_str(), &st));
  EXPECT_EQ(0u, st.st_uid);
  EXPECT_EQ("root text\n", ReadFile(tmp));
}

TEST_F(FileIOTest, AnIncompleteRepairFileIsRemoved) {
  // A file size limit makes write() fail part way, as a full disk would.
  void (*oldHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit oldLimit {};
  ASSERT_EQ(0, ::getrlimit(RLIMIT_FSIZE, &oldLimit));
  struct rlimit small = oldLimit;
  small.rlim_cur = 4096;
  ASSERT_EQ(0, ::setrlimit(RLIMIT_FSIZE, &small));
  bool written = NSCheckerTool::WriteRepairFile(Path("tmp"), std::string(100000, 'x'), Path("t"));
  ::setrlimit(RLIMIT_FSIZE, &oldLimit);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(written);
  EXPECT_FALSE(Exists(Path("tmp")));
}

TEST_F(FileIOTest, NoRepairFileWithoutTheRunLockOnceItWasMissed) {
  NSCheckerTool::RunLock holder(Path("lock"), 0);
  ASSERT_TRUE(holder.Held());
  {
    NSCheckerTool::RunLock late(Path("lock"), 50);
    ASSERT_FALSE(late.Held());
    EXPECT_FALSE(NSCheckerTool::WriteRepairFile(Path("tmp"), "x", Path("target")));
    EXPECT_FALSE(Exists(Path("tmp")));
  }
  EXPECT_TRUE(NSCheckerTool::WriteRepairFile(Path("tmp"), "x", Path("target")));
}
