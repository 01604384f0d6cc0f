#include "common/RunLock.h"

#include "common/NSCheckerTool.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <ctime>
#include <string>

namespace NSCheckerTool {

namespace {

RunLock::State s_state = RunLock::State::NotTaken;

long long NowMs() {
  struct timespec ts {};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Opens the lock file: ours, a regular file with no other name, never
// through a link; -1 for anything else found at path.
int OpenLockFile(const std::string& path) {
  const int fd =
      ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0600);
  struct stat st {};
  if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() ||
                  st.st_nlink != 1)) {
    ::close(fd);  // nothing written: nothing to lose
    return -1;
  }
  return fd;
}

}  // namespace

RunLock::RunLock(const std::string& path, int waitMs) {
  const int fd = OpenLockFile(path);
  if (fd < 0) {
    m_bActive = false;  // no lock of ours to be had: go on without one
    return;
  }
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

std::string RunLock::DefaultPath() { return DefaultPath(::geteuid(), "/run/user"); }

std::string RunLock::DefaultPath(uid_t uid, const std::string& runtimeFolders) {
  if (uid == 0) {
    return "/run/checktool.lock";
  }
  // The user's runtime folder as the system makes it, never as the
  // environment names it: su, sudo -u, cron and services set
  // XDG_RUNTIME_DIR differently, or keep another user's.
  const std::string folder = runtimeFolders + "/" + std::to_string(uid);
  struct stat st {};
  if (::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == uid &&
      (st.st_mode & 077) == 0) {
    return folder + "/checktool.lock";
  }
  return "/tmp/checktool-" + std::to_string(uid) + ".lock";
}

}  // namespace NSCheckerTool
