#include "common/RunLock.h"
#include "testsupport/TestSupport.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstdlib>
#include <functional>
#include <vector>

using namespace testsupport;
using NSCheckerTool::RunLock;

class RunLockTest : public TempDirTest {
 protected:
  // The file that the runs lock.
  std::string Folder() { return Path("checktool.lock"); }
};

TEST_F(RunLockTest, ASecondRunWaitsForTheFirst) {
  int ready[2];
  ASSERT_EQ(0, ::pipe(ready));
  pid_t child = ::fork();
  ASSERT_NE(-1, child);
  if (child == 0) {
    RunLock first(Folder(), 0);
    char c = first.Held() ? 'y' : 'n';
    if (::write(ready[1], &c, 1) != 1) {
      ::_exit(1);
    }
    ::usleep(300 * 1000);
    ::_exit(0);  // leaving drops the lock
  }
  char c = 0;
  ASSERT_EQ(1, ::read(ready[0], &c, 1));
  ASSERT_EQ('y', c);
  {
    RunLock second(Folder(), 10000);
    EXPECT_TRUE(second.Held());
    EXPECT_EQ(RunLock::State::Held, RunLock::CurrentState());
    int status = 0;
    // The child can only have ended already: we got the lock after it.
    EXPECT_EQ(child, ::waitpid(child, &status, WNOHANG));
  }
  EXPECT_EQ(RunLock::State::NotTaken, RunLock::CurrentState());
  ::close(ready[0]);
  ::close(ready[1]);
}

TEST_F(RunLockTest, AWaitHeldUpEndsAndIsRecordedAsMissed) {
  RunLock holder(Folder(), 0);
  ASSERT_TRUE(holder.Held());
  {
    RunLock late(Folder(), 100);
    EXPECT_FALSE(late.Held());
    EXPECT_EQ(RunLock::State::Missed, RunLock::CurrentState());
  }
  holder.Release();
  RunLock next(Folder(), 0);
  EXPECT_TRUE(next.Held());
}

// Only a file of our own is locked, never through a link; anything else
// found at the path is left as it is and the run goes on without a lock
// (not Missed: nobody else can hold our repairs up).
TEST_F(RunLockTest, OnlyAFileOfOurOwnIsLocked) {
  WriteFile(Path("victim"), "untouched\n", 0644);
  struct Case {
    const char* what;
    std::function<void(const std::string&)> plant;
    bool held;
  } cases[] = {
      {"link to a file",
       [&](const std::string& p) { ASSERT_EQ(0, ::symlink(Path("victim").c_str(), p.c_str())); },
       false},
      {"nothing", [](const std::string&) {}, true},
      {"fifo", [](const std::string& p) { ASSERT_EQ(0, ::mkfifo(p.c_str(), 0666)); }, false},
      {"our own file", [](const std::string& p) { WriteFile(p, "", 0600); }, true},
      {"a file with a second name",
       [&](const std::string& p) {
         WriteFile(p, "", 0600);
         ASSERT_EQ(0, ::link(p.c_str(), (p + ".second").c_str()));
       },
       false},
      {"directory", [](const std::string& p) { ASSERT_EQ(0, ::mkdir(p.c_str(), 0700)); }, false},
      {"another user's file",
       [](const std::string& p) {
         WriteFile(p, "", 0666);
         if (RunningAsRoot()) {
           ASSERT_EQ(0, ::chown(p.c_str(), 65534, 65534));
         }
       },
       !RunningAsRoot()},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string path = Path("lock" + std::to_string(n++));
    c.plant(path);
    RunLock lock(path, 100);
    EXPECT_EQ(c.held, lock.Held());
    EXPECT_EQ(c.held ? RunLock::State::Held : RunLock::State::NotTaken, RunLock::CurrentState());
  }
  EXPECT_EQ("untouched\n", ReadFile(Path("victim")));
}

// A user's runs always meet at the lock in /tmp, and also at one in the
// runtime folder the system made for that uid, where there is one: never
// where the environment points (su keeps another user's XDG_RUNTIME_DIR;
// cron and services set none), never in another uid's folder, a folder
// others may enter, or a link.
TEST_F(RunLockTest, AUsersLocksArePlacedByItsUidAlone) {
  using Paths = std::vector<std::string>;
  const uid_t uid = RunningAsRoot() ? 4242 : ::getuid();
  const std::string folders = Path("user");
  const std::string own = folders + "/" + std::to_string(uid);
  const std::string inTmp = "/tmp/checktool-" + std::to_string(uid) + ".lock";
  ASSERT_EQ(0, ::mkdir(folders.c_str(), 0755));
  ASSERT_EQ(0, ::mkdir(Path("elsewhere").c_str(), 0700));
  const bool root = RunningAsRoot();
  struct Case {
    const char* what;
    std::function<void()> plant;
    Paths expected;
    bool needsRoot;
  } cases[] = {
      {"no folder", [] {}, {inTmp}, false},
      {"the uid's own 0700 folder", [&] { ASSERT_EQ(0, ::mkdir(own.c_str(), 0700)); },
       {inTmp, own + "/checktool.lock"}, false},
      {"a folder others may enter", [&] { ASSERT_EQ(0, ::mkdir(own.c_str(), 0711)); }, {inTmp},
       false},
      {"another uid's folder",
       [&] {
         ASSERT_EQ(0, ::mkdir(own.c_str(), 0700));
         ASSERT_EQ(0, ::chown(own.c_str(), uid + 1, uid + 1));
       },
       {inTmp}, true},
      {"a link to the uid's own folder",
       [&] { ASSERT_EQ(0, ::symlink(Path("elsewhere").c_str(), own.c_str())); }, {inTmp}, false},
  };
  const char* const kept = std::getenv("XDG_RUNTIME_DIR");
  const std::string keptValue = kept != nullptr ? kept : "";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.needsRoot && !root) {
      continue;
    }
    (void)::rmdir(own.c_str());
    (void)::unlink(own.c_str());
    c.plant();
    if (root && !c.needsRoot) {  // made by root: given to the uid, as the system does
      (void)::lchown(own.c_str(), uid, uid);
      (void)::chown(Path("elsewhere").c_str(), uid, uid);
    }
    for (const std::string& named : {Path("elsewhere"), std::string("/nonexistent"), own}) {
      ASSERT_EQ(0, ::setenv("XDG_RUNTIME_DIR", named.c_str(), 1));
      EXPECT_EQ(c.expected, RunLock::DefaultPaths(uid, folders)) << "XDG_RUNTIME_DIR=" << named;
    }
  }
  if (kept != nullptr) {
    ASSERT_EQ(0, ::setenv("XDG_RUNTIME_DIR", keptValue.c_str(), 1));
  } else {
    ASSERT_EQ(0, ::unsetenv("XDG_RUNTIME_DIR"));
  }
  EXPECT_EQ(Paths{"/run/checktool.lock"}, RunLock::DefaultPaths(0, folders));
}

// Of several locks, each is taken in turn; one that is not ours is passed
// over, and a miss of any gives up all of them.
TEST_F(RunLockTest, SeveralLocksAreTakenInTurnOrNotAtAll) {
  ASSERT_EQ(0, ::mkfifo(Path("theirs").c_str(), 0600));
  RunLock holder(Path("second"), 0);
  ASSERT_TRUE(holder.Held());
  {
    RunLock both({Path("first"), Path("theirs"), Path("second")}, 100);
    EXPECT_FALSE(both.Held());
    EXPECT_EQ(RunLock::State::Missed, RunLock::CurrentState());
    RunLock first(Path("first"), 0);  // given up with the miss
    EXPECT_TRUE(first.Held());
  }
  holder.Release();
  RunLock both({Path("first"), Path("theirs"), Path("second")}, 0);
  EXPECT_TRUE(both.Held());
  EXPECT_EQ(RunLock::State::Held, RunLock::CurrentState());
}
