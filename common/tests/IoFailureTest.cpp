// Failures that real file systems seldom show where a test can reach them:
// close() failing after the data was handed over (a quota or NFS reports it
// only then), and fsync() failing. This executable has close() and fsync()
// of its own that fail for one chosen path and pass everything else to the
// kernel.
#include "common/FileIO.h"
#include "common/Repair.h"

#include "testsupport/TestSupport.h"

#include <sys/syscall.h>
#include <unistd.h>
#include <cerrno>
#include <climits>
#include <cstdio>

using namespace testsupport;

namespace {

std::string s_strFailClose;
std::string s_strFailFsync;
std::string s_strCountFsync;
int s_nFsyncs = 0;

std::string PathOf(int fd) {
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  char target[PATH_MAX];
  const ssize_t n = ::readlink(link, target, sizeof target - 1);
  return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}

}  // namespace

extern "C" int close(int fd) {
  const bool fail = !s_strFailClose.empty() && PathOf(fd) == s_strFailClose;
  const long result = ::syscall(SYS_close, fd);
  if (fail && result == 0) {
    errno = EIO;
    return -1;
  }
  return static_cast<int>(result);
}

extern "C" int fsync(int fd) {
  const std::string path = PathOf(fd);
  if (path == s_strCountFsync) {
    ++s_nFsyncs;
  }
  if (!s_strFailFsync.empty() && path == s_strFailFsync) {
    errno = EIO;
    return -1;
  }
  return static_cast<int>(::syscall(SYS_fsync, fd));
}

class IoFailureTest : public TempDirTest {
 protected:
  void TearDown() override {
    s_strFailClose.clear();
    s_strFailFsync.clear();
    s_strCountFsync.clear();
    TempDirTest::TearDown();
  }
};

TEST_F(IoFailureTest, AFailingCloseFailsTheReport) {
  s_strFailClose = Path("report.html");
  EXPECT_FALSE(NSCheckerTool::WriteReport(Path("report.html"), "<table>\n"));
  s_strFailClose.clear();
  EXPECT_TRUE(NSCheckerTool::WriteReport(Path("report.html"), "<table>\n"));
}

// After the copy the target is flushed to disk; if that fails, so does the
// repair.
TEST_F(IoFailureTest, TheCopiedFileIsFlushedAndAFailedFlushFailsTheRepair) {
  REQUIRE_ROOT_FOR_THE_COPY();
  InstallFakePkexec();
  WriteFile(Path("target"), "old\n");
  s_strCountFsync = Path("target");
  std::string text;
  NSCheckerTool::ReadMark read;
  ASSERT_EQ(NSCheckerTool::ReadResult::Ok, NSCheckerTool::ReadWholeFile(Path("target"), text, &read));
  ASSERT_TRUE(NSCheckerTool::StageRepairText("repair", "new\n", read));
  EXPECT_TRUE(NSCheckerTool::InstallStagedText("repair", Path("target")));
  EXPECT_EQ(1, s_nFsyncs);
  EXPECT_EQ("new\n", ReadFile(Path("target")));

  s_strFailFsync = Path("target");
  ASSERT_EQ(NSCheckerTool::ReadResult::Ok, NSCheckerTool::ReadWholeFile(Path("target"), text, &read));
  ASSERT_TRUE(NSCheckerTool::StageRepairText("repair", "newer\n", read));
  EXPECT_FALSE(NSCheckerTool::InstallStagedText("repair", Path("target")));
  EXPECT_EQ("newer\n", ReadFile(Path("target")));
}
