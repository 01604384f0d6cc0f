#include "common/FileIO.h"
#include "common/NSCheckerTool.h"
#include "common/Repair.h"
#include "common/RunLock.h"
#include "testsupport/TestSupport.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <functional>

using namespace testsupport;
using NSCheckerTool::ReadResult;

class FileIOTest : public TempDirTest {
 protected:
  // Stages text for the file at path as a repair does: built from a reading
  // of it, which starts its watch.
  static bool Stage(const std::string& name, const std::string& text, const std::string& path) {
    std::string was;
    NSCheckerTool::ReadMark read;
    return NSCheckerTool::ReadWholeFile(path, was, &read) != ReadResult::Failed &&
           NSCheckerTool::StageRepairText(name, text, read);
  }
};

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

// The report path is walked as the kernel walks it: ".." after a link is
// the parent of where the link led, at most 40 links are followed, and a
// descriptor named in /proc is what it stands for (here a pipe), not the
// text of its link.
TEST_F(FileIOTest, TheReportPathIsWalkedAsTheKernelWalksIt) {
  ASSERT_EQ(0, ::mkdir(Path("a").c_str(), 0755));
  ASSERT_EQ(0, ::mkdir(Path("a/b").c_str(), 0755));
  ASSERT_EQ(0, ::symlink("a/b", Path("to-b").c_str()));
  std::string hop = "r.html";
  for (int i = 1; i <= 41; ++i) {
    ASSERT_EQ(0, ::symlink(hop.c_str(), Path("hop" + std::to_string(i)).c_str()));
    hop = "hop" + std::to_string(i);
  }
  int pipe[2];
  ASSERT_EQ(0, ::pipe2(pipe, O_CLOEXEC));
  struct Case {
    std::string path;
    bool written;
    std::string lands;
  } cases[] = {
      {Path("to-b/../up.html"), true, Path("a/up.html")},
      {Path("hop40"), true, Path("r.html")},
      {Path("hop41"), false, ""},
      {"/proc/self/fd/" + std::to_string(pipe[1]), true, ""},
      // A file that appears after the walk found none is not written through.
      {Path("raced.html"), false, ""},
  };
  NSCheckerTool::g_pBeforeReportCreate = [](int folder, const char* name) {
    if (std::string(name) == "raced.html") {
      ::close(::openat(folder, name, O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    }
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(c.written, NSCheckerTool::WriteReport(c.path, "<table>\n"));
    if (!c.lands.empty()) {
      EXPECT_EQ("<table>\n", ReadFile(c.lands));
    }
  }
  NSCheckerTool::g_pBeforeReportCreate = nullptr;
  EXPECT_EQ("", ReadFile(Path("raced.html")));
  // In a sticky folder that others may write to (as root: one of nobody's):
  // a link of the folder owner's is followed, one of a third user's is not.
  if (RunningAsRoot()) {
    ASSERT_EQ(0, ::mkdir(Path("sticky").c_str(), 0700));
    ASSERT_EQ(0, ::chown(Path("sticky").c_str(), 65534, 65534));
    ASSERT_EQ(0, ::chmod(Path("sticky").c_str(), 01777));
    for (const uid_t owner : {65534u, 65533u}) {
      SCOPED_TRACE(owner);
      const std::string link = Path("sticky/link" + std::to_string(owner));
      ASSERT_EQ(0, ::symlink(Path("owned.html").c_str(), link.c_str()));
      ASSERT_EQ(0, ::lchown(link.c_str(), owner, owner));
      EXPECT_EQ(owner == 65534u, NSCheckerTool::WriteReport(link, "<table>\n"));
    }
    // An existing file there is written only when it is ours or the
    // folder owner's, in a folder that only its group may write to as well.
    ASSERT_EQ(0, ::mkdir(Path("group-sticky").c_str(), 0700));
    ASSERT_EQ(0, ::chown(Path("group-sticky").c_str(), 65534, 65534));
    ASSERT_EQ(0, ::chmod(Path("group-sticky").c_str(), 01770));
    for (const std::string folder : {"sticky", "group-sticky"}) {
      const std::string theirs = Path(folder + "/theirs.html");
      WriteFile(theirs, "theirs\n", 0666);
      ASSERT_EQ(0, ::chown(theirs.c_str(), 65533, 65533));
      EXPECT_FALSE(NSCheckerTool::WriteReport(theirs, "<table>\n")) << folder;
      EXPECT_EQ("theirs\n", ReadFile(theirs));
    }
  }
  ::close(pipe[1]);
  char got[16] = {};
  EXPECT_EQ(8, ::read(pipe[0], got, sizeof got - 1));
  EXPECT_STREQ("<table>\n", got);
  ::close(pipe[0]);
}

// A file changed since it was read is not copied into; the row is what it
// then holds: exactly the repaired text (the same repair, made by someone
// else), or not. A FIFO put in its place does not hold the reading back.
TEST_F(FileIOTest, AChangedFileIsKeptAndReadBack) {
  InstallFakePkexec();
  const std::string text = "127.0.0.1 localhost\n127.0.0.1            local.tolvane.com\n";
  struct Case {
    const char* what;
    std::function<void(const std::string&)> change;
    bool done;
  } cases[] = {
      {"the same repair", [&](const std::string& p) { WriteFile(p, text); }, true},
      {"the repair and more",
       [&](const std::string& p) { WriteFile(p, text + "10.0.0.1 local.tolvane.com\n"); }, false},
      {"the start of the repair", [&](const std::string& p) { WriteFile(p, text.substr(0, 20)); },
       false},
      {"emptied", [&](const std::string& p) { WriteFile(p, ""); }, false},
      {"a FIFO",
       [&](const std::string& p) {
         ASSERT_EQ(0, ::unlink(p.c_str()));
         ASSERT_EQ(0, ::mkfifo(p.c_str(), 0644));
       },
       false},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string target = Path("target" + std::to_string(n++));
    WriteFile(target, "old\n");
    ASSERT_TRUE(Stage("t", text, target));
    c.change(target);
    EXPECT_EQ(c.done, NSCheckerTool::InstallStagedText("t", target));
  }
  EXPECT_EQ("", PkexecLog());  // no prompt for a file changed since it was read
}

// What the watch of a file read for a repair counts as a change, by its
// events or by its content: a write through a shared mapping sends no
// event (tmpfs, overlayfs), a new time within the same second and of the
// same size does; a file read in other pieces than it is read again is
// unchanged.
TEST_F(FileIOTest, TheWatchSeesWhatTheFileHoldsAndWhen) {
  const std::size_t size = NSCheckerTool::kLineBufferSize + 33;  // past one reading's buffer
  std::string text;
  while (text.size() < size) {
    text += "0.0.0.0 host.example\n";
  }
  text.resize(size);
  struct : NSCheckerTool::LineSink {
    void Line(std::string_view) override {}
  } lines;
  struct Case {
    const char* what;
    std::function<void(const std::string&)> change;
    bool byEvents;
    bool byContent;
  } cases[] = {
      {"nothing", [](const std::string&) {}, false, false},
      {"a byte written through a shared mapping",
       [&](const std::string& p) {
         const int fd = ::open(p.c_str(), O_RDWR);
         ASSERT_GE(fd, 0);
         void* map = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
         ASSERT_NE(MAP_FAILED, map);
         ::close(fd);  // its close event comes now, before the write
         static_cast<char*>(map)[size - 1] = 'y';
         ASSERT_EQ(0, ::munmap(map, size));
       },
       false, true},
      {"a time later within the same second",
       [](const std::string& p) {
         struct stat st {};
         ASSERT_EQ(0, ::stat(p.c_str(), &st));
         // Both times, as touch sets them: an attribute event, not a write.
         const struct timespec times[2] = {st.st_atim,
                                           {st.st_mtim.tv_sec, (st.st_mtim.tv_nsec + 1) % 1000000000}};
         ASSERT_EQ(0, ::utimensat(AT_FDCWD, p.c_str(), times, 0));
       },
       true, false},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string target = Path("watched" + std::to_string(n++));
    WriteFile(target, text);
    struct timespec second[2] = {{0, UTIME_OMIT}, {1700000000, 5}};
    ASSERT_EQ(0, ::utimensat(AT_FDCWD, target.c_str(), second, 0));
    NSCheckerTool::ReadMark mark;
    mark.repairReading = true;
    ASSERT_EQ(ReadResult::Ok, NSCheckerTool::ReadFileLines(target, nullptr, lines, 4096, &mark));
    c.change(target);
    // The content first: what the events said is not taken yet.
    EXPECT_EQ(c.byContent, NSCheckerTool::ContentChangedSinceRead(target));
    if (!c.byContent) {  // ext4 dates a mapped write, tmpfs and overlayfs do not
      EXPECT_EQ(c.byEvents, NSCheckerTool::TargetChanged(target));
    }
  }
}

// A stop that comes while a file is read ends the reading, however large
// the file (a failed read), and only that reading.
TEST_F(FileIOTest, AStopEndsTheReadingOfAFile) {
  std::string text;
  int lines = 0;
  while (text.size() < 4 * NSCheckerTool::kLineBufferSize) {  // several reads
    text += "0.0.0.0 host" + std::to_string(lines++) + ".example\n";
  }
  WriteFile(Path("hosts"), text);
  EXPECT_TRUE(InChild([&] {
    struct StopAtTheFirstLine : NSCheckerTool::LineSink {
      int lines = 0;
      void Line(std::string_view) override {
        if (lines++ == 0) {
          (void)::raise(SIGTERM);
        }
      }
    } sink;
    NSCheckerTool::CatchStopSignals();
    const ReadResult stopped = NSCheckerTool::ReadFileLines(Path("hosts"), nullptr, sink);
    const int seen = sink.lines;
    std::string after;
    return stopped == ReadResult::Failed && seen < lines &&
           NSCheckerTool::ReadWholeFile(Path("hosts"), after) == ReadResult::Ok && after == text;
  }));
}

// Once sealed, the staged text can be changed by nobody: not through the
// descriptor, not through a new opening of it by /proc.
TEST_F(FileIOTest, SealedTextCanBeReadButNeverChanged) {
  const int fd = NSCheckerTool::SealedText("127.0.0.1 local.tolvane.com\n");
  ASSERT_GE(fd, 0);
  EXPECT_EQ(FD_CLOEXEC, ::fcntl(fd, F_GETFD) & FD_CLOEXEC);
  const std::string proc = "/proc/self/fd/" + std::to_string(fd);
  EXPECT_EQ("127.0.0.1 local.tolvane.com\n", ReadFile(proc));
  const int reopened = ::open(proc.c_str(), O_WRONLY);
  ASSERT_GE(reopened, 0);
  struct Case {
    const char* what;
    std::function<int()> change;
  } cases[] = {
      {"write", [&] { return static_cast<int>(::write(fd, "x", 1)); }},
      {"write at the start", [&] { return static_cast<int>(::pwrite(fd, "6", 1, 0)); }},
      {"write through /proc", [&] { return static_cast<int>(::write(reopened, "6", 1)); }},
      {"shrink", [&] { return ::ftruncate(fd, 0); }},
      {"grow", [&] { return ::ftruncate(fd, 4096); }},
      {"unseal", [&] { return ::fcntl(fd, F_ADD_SEALS, F_SEAL_WRITE); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    errno = 0;
    EXPECT_EQ(-1, c.change());
    EXPECT_EQ(EPERM, errno);
  }
  EXPECT_EQ("127.0.0.1 local.tolvane.com\n", ReadFile(proc));
  ::close(reopened);
  ::close(fd);
}

// Each case in a child: what refuses a repair lasts for the process.
TEST_F(FileIOTest, NothingIsStagedOrInstalledWhereNoRepairMayStart) {
  InstallFakePkexec();
  WriteFile(Path("target"), "old\n");
  ASSERT_EQ(0, ::mkdir(Path("dir").c_str(), 0755));
  const auto stage = [&](const std::string& text) { return Stage("t", text, Path("target")); };
  struct Case {
    const char* what;
    std::function<bool()> spoil;  // what refuses later repairs; true if it staged anyway
  } cases[] = {
      {"the run lock was missed",
       [&] {
         static NSCheckerTool::RunLock holder(Path("lock"), 0);  // held until the child ends
         static NSCheckerTool::RunLock late(Path("lock"), 0);
         return stage("new\n");
       }},
      {"a stop signal came",
       [&] {
         NSCheckerTool::CatchStopSignals();
         ::raise(SIGTERM);
         return stage("new\n");
       }},
      {"the authorisation was refused",
       [&] {
         const std::string settings = ReadFile(Path("bin/settings"));
         RefuseFakePkexec();
         const bool staged = stage("new\n");
         (void)NSCheckerTool::InstallStagedText("t", Path("target"));
         WriteFile(Path("bin/settings"), settings);
         return !staged;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_TRUE(InChild([&] {
      const bool wrong = c.spoil();
      // Whatever happened first, no command runs and nothing changes now.
      return !wrong && !(stage("new\n") &&
                         NSCheckerTool::InstallStagedText("t", Path("target")));
    }));
  }
  EXPECT_EQ("old\n", ReadFile(Path("target")));

  // Nothing is staged when no memory file can be made (no descriptor left):
  // never a descriptor that stands for something else.
  EXPECT_TRUE(InChild([&] {
    std::string was;
    NSCheckerTool::ReadMark read;
    (void)NSCheckerTool::ReadWholeFile(Path("target"), was, &read);
    const int next = ::dup(STDIN_FILENO);  // the lowest free descriptor
    ::close(next);
    const struct rlimit few { static_cast<rlim_t>(next), static_cast<rlim_t>(next) };
    return next > 0 && ::setrlimit(RLIMIT_NOFILE, &few) == 0 &&
           !NSCheckerTool::StageRepairText("t", "new\n", read);
  }));

  // A copy that fails for another reason (the target has become a
  // directory) stops nothing later.
  EXPECT_TRUE(InChild([&] {
    NSCheckerTool::ReadMark read;
    read.watched = NSCheckerTool::WatchTarget(Path("dir"));
    return read.watched && NSCheckerTool::StageRepairText("t", "new\n", read) &&
           !NSCheckerTool::InstallStagedText("t", Path("dir")) && NSCheckerTool::MayRepair();
  }));
  // Nothing is copied into a file that cannot be watched (its folder is
  // missing).
  EXPECT_TRUE(InChild([&] {
    return Stage("t", "new\n", Path("no-such-dir/target")) &&
           !NSCheckerTool::InstallStagedText("t", Path("no-such-dir/target"));
  }));

  // Only the text staged under the name is installed, and only whole.
  ASSERT_TRUE(Stage("other", "new\n", Path("target")));
  EXPECT_FALSE(NSCheckerTool::InstallStagedText("t", Path("target")));
  EXPECT_TRUE(InChild([&] {
    (void)std::signal(SIGXFSZ, SIG_IGN);  // a file size limit fails the write part way
    const struct rlimit small { 4096, 4096 };
    return ::setrlimit(RLIMIT_FSIZE, &small) == 0 && !stage(std::string(100000, 'x')) &&
           !NSCheckerTool::InstallStagedText("t", Path("target"));
  }));
  EXPECT_EQ("old\n", ReadFile(Path("target")));
  EXPECT_EQ("/bin/cp -T -u --no-preserve=mode /dev/stdin " + Path("target") +
                "\n/bin/cp -T -u --no-preserve=mode /dev/stdin " + Path("dir") + "\n",
            PkexecLog());  // the refused one, the failed one
}
