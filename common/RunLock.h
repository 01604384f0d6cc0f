#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace NSCheckerTool {

// An exclusive advisory lock that serialises the runs of one user, so that
// they never show two prompts at once. What is locked are files of the
// user's own (see DefaultPaths): no other user can open them, so no other
// user's lock or run delays anyone. Runs of different users may overlap;
// the watch on each file keeps what one of them copies from being lost by
// another. A lock that another run of the same user holds is waited for a
// bounded time (a stop signal ends the wait); a run that misses it still
// checks, but its repairs fail (see MayRepair). A lock file that is not the
// user's own (a link, a FIFO, another user's file planted in /tmp) is
// passed over: the run goes on without that lock rather than let anyone
// else hold it up.
class RunLock {
 public:
  // Process-wide outcome of the last attempt: repairs are refused only after
  // a missed lock, so code that never asks for one is not affected.
  enum class State : int { NotTaken, Held, Missed };

  // How long a run waits for the run before it: long enough for a person to
  // answer an authentication prompt, short enough that nobody can hang us.
  static constexpr int kDefaultWaitMs = 60000;

  // Takes the lock on the file at path (created 0600 if missing, never
  // through a link), waiting at most waitMs.
  RunLock(const std::string& path, int waitMs);
  // Takes the locks on the files at paths, in their order, all within
  // waitMs: held when at least one was taken and none was missed.
  RunLock(const std::vector<std::string>& paths, int waitMs);
  ~RunLock();
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;

  bool Held() const { return !m_fds.empty(); }
  // Gives the lock up (or forgets the miss) early; the destructor then does
  // nothing.
  void Release();

  static State CurrentState();
  // The locks of this process's effective user (see the overload).
  static std::vector<std::string> DefaultPaths();
  // Decided by the uid and the file system alone, so that two runs of one
  // user meet whatever their environments say. Root: /run/checktool.lock.
  // A user: /tmp/checktool-<uid>.lock, then checktool.lock in
  // <runtimeFolders>/<uid> where that is a folder (not a link) of the
  // user's own that no one else may enter.
  static std::vector<std::string> DefaultPaths(uid_t uid, const std::string& runtimeFolders);

 private:
  void CloseAll();
  std::vector<int> m_fds;
  bool m_bActive = true;  // this attempt still decides CurrentState()
};

}  // namespace NSCheckerTool
