#pragma once

#include <string>

namespace NSCheckerTool {

// An exclusive advisory lock that serialises whole runs of the program, so
// that no run reads the hosts file or the desktop entry while another one is
// replacing it. The lock file lives
// in the shared temporary directory: it is only ever opened for reading,
// never through a symbolic link, and anything there but a regular file counts
// as a lock that cannot be had. A lock that another process holds is waited
// for a bounded time; a run that misses it still checks, but its repairs fail
// (see MayRepair).
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
  // The temporary directory followed by "/check_hosts_tmp.lock".
  static std::string DefaultPath();

 private:
  int m_nFd = -1;
  bool m_bActive = true;  // this attempt still decides CurrentState()
};

}  // namespace NSCheckerTool
