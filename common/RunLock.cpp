#include "common/RunLock.h"

#include "common/NSCheckerTool.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <cerrno>
#include <ctime>

namespace NSCheckerTool {

namespace {

RunLock::State s_state = RunLock::State::NotTaken;

long long NowMs() {
  struct timespec ts {};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Opens the folder to lock, read-only: a directory, never through a link.
// What the run locks is a folder only root can create, replace or take
// away, so nothing another user puts anywhere can keep a run from its lock.
int OpenLockFile(const std::string& path) {
  return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

}  // namespace

RunLock::RunLock(const std::string& path, int waitMs) {
  int fd = OpenLockFile(path);
  if (fd >= 0) {
    const long long deadline = NowMs() + waitMs;
    for (;;) {
      if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        m_nFd = fd;
        break;
      }
      // A stop signal ends the wait as well: the run then checks, repairs
      // nothing and ends.
      if ((errno != EWOULDBLOCK && errno != EINTR) || NowMs() >= deadline ||
          InterruptSignal() != 0) {
        ::close(fd);
        break;
      }
      struct timespec pause {
        0, 20L * 1000 * 1000
      };
      ::nanosleep(&pause, nullptr);
    }
  }
  s_state = Held() ? State::Held : State::Missed;
}

RunLock::~RunLock() { Release(); }

void RunLock::Release() {
  if (!m_bActive) {
    return;
  }
  m_bActive = false;
  if (m_nFd >= 0) {
    ::close(m_nFd);  // closing the only descriptor drops the flock
    m_nFd = -1;
  }
  s_state = State::NotTaken;
}

RunLock::State RunLock::CurrentState() { return s_state; }

std::string RunLock::DefaultPath() { return "/etc"; }

}  // namespace NSCheckerTool
