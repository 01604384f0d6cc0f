#include "common/RunLock.h"

#include "common/NSCheckerTool.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <ctime>
#include <string>
#include <vector>

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

// Waits for the lock on fd until deadline; false when it was not had (a
// stop signal ends the wait as well: the run then checks, repairs nothing
// and ends).
bool TakeBefore(int fd, long long deadline) {
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      return true;
    }
    if ((errno != EWOULDBLOCK && errno != EINTR) || NowMs() >= deadline ||
        InterruptSignal() != 0) {
      return false;
    }
    struct timespec pause {
      0, 20L * 1000 * 1000
    };
    ::nanosleep(&pause, nullptr);
  }
}

}  // namespace

RunLock::RunLock(const std::string& path, int waitMs)
    : RunLock(std::vector<std::string>{path}, waitMs) {}

RunLock::RunLock(const std::vector<std::string>& paths, int waitMs) {
  const long long deadline = NowMs() + waitMs;
  for (const std::string& path : paths) {
    const int fd = OpenLockFile(path);
    if (fd < 0) {
      continue;  // no lock of ours to be had there: passed over
    }
    if (!TakeBefore(fd, deadline)) {
      ::close(fd);  // nothing written: nothing to lose
      CloseAll();
      s_state = State::Missed;
      return;
    }
    m_fds.push_back(fd);
  }
  if (m_fds.empty()) {
    m_bActive = false;  // none of ours to be had: go on without one
    return;
  }
  s_state = State::Held;
}

RunLock::~RunLock() { Release(); }

void RunLock::CloseAll() {
  for (const int fd : m_fds) {
    ::close(fd);  // closing the only descriptor drops the flock
  }
  m_fds.clear();
}

void RunLock::Release() {
  if (!m_bActive) {
    return;
  }
  m_bActive = false;
  CloseAll();
  s_state = State::NotTaken;
}

RunLock::State RunLock::CurrentState() { return s_state; }

std::vector<std::string> RunLock::DefaultPaths() { return DefaultPaths(::geteuid(), "/run/user"); }

std::vector<std::string> RunLock::DefaultPaths(uid_t uid, const std::string& runtimeFolders) {
  if (uid == 0) {
    return {"/run/checktool.lock"};
  }
  // Always the one in /tmp first, so that runs of one user meet there
  // whether or not the runtime folder existed when each started (it comes
  // with a login and goes with the last logout).
  std::vector<std::string> paths{"/tmp/checktool-" + std::to_string(uid) + ".lock"};
  // Then the user's runtime folder as the system makes it, never as the
  // environment names it (su, sudo -u, cron and services set
  // XDG_RUNTIME_DIR differently, or keep another user's): a lock there
  // holds even where someone else's file has taken the name in /tmp.
  const std::string folder = runtimeFolders + "/" + std::to_string(uid);
  struct stat st {};
  if (::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == uid &&
      (st.st_mode & 077) == 0) {
    paths.push_back(folder + "/checktool.lock");
  }
  return paths;
}

}  // namespace NSCheckerTool
