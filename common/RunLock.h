#pragma once

#include <string>

namespace NSCheckerTool {

// An exclusive advisory lock that serialises whole runs of the program, so
// that no run reads the hosts file or the desktop entry while another one is
// replacing it. What is locked is a directory (by default /etc, the hosts
// file's folder), opened read-only and never through a symbolic link: it
// exists whether the files do or not, and only root can create, replace or
// take it away, so nothing another user plants in a shared folder can keep
// a run from its lock. A lock that another process holds is waited for a
// bounded time (a stop signal ends the wait); a run that misses it still
// checks, but its repairs fail (see MayRepair).
class RunLock {
 public:
  // Process-wide outcome of the last attempt: repairs are refused only after
  // a missed lock, so code that never asks for one is not affected.
  enum class State : int { NotTaken, Held, Missed };

  // How long a run waits for the run before it: long enough for a person to
  // answer an authentication prompt, short enough that nobody can hang us.
  static constexpr int kDefaultWaitMs = 60000;

  // Takes the lock at path, waiting at most waitMs.
  RunLock(const std::string& path, int waitMs);
  ~RunLock();
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;

  bool Held() const { return m_nFd >= 0; }
  // Gives the lock up (or forgets the miss) early; the destructor then does
  // nothing.
  void Release();

  static State CurrentState();
  // "/etc".
  static std::string DefaultPath();

 private:
  int m_nFd = -1;
  bool m_bActive = true;  // this attempt still decides CurrentState()
};

}  // namespace NSCheckerTool
