#include "common/RunLock.h"

#include "common/NSCheckerTool.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
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

// Opens the lock file read-only, creating it when missing. Creation is
// exclusive, so a link or file planted between the two opens is not taken
// over; an existing entry is opened without following a link and without
// blocking on a FIFO, and must turn out to be a regular file.
int OpenLockFile(const std::string& path) {
  const int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  for (int attempt = 0; attempt < 3; ++attempt) {
    int fd = ::open(path.c_str(), flags);
    if (fd < 0 && errno == ENOENT) {
      fd = ::open(path.c_str(), flags | O_CREAT | O_EXCL, 0444);
      if (fd >= 0) {
        // Every user's run must be able to open it, whatever our umask.
        ::fchmod(fd, 0444);
      } else if (errno == EEXIST) {
        continue;
      }
    }
    if (fd < 0) {
      return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      ::close(fd);
      return -1;
    }
    return fd;
  }
  return -1;
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

std::string RunLock::DefaultPath() { return GetOSTempPath() + "/check_hosts_tmp.lock"; }

}  // namespace NSCheckerTool
