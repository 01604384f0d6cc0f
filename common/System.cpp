// The shell runner of the repairs, and the signals that stop a run.
#include "common/NSCheckerTool.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <set>
#include <vector>

namespace {

// The first stop signal of the run: caught by the handler, accepted while a
// command runs, or read from the status of a command that the user
// interrupted.
volatile std::sig_atomic_t s_nStopSignal = 0;

constexpr int kStopSignals[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP};

void RecordStop(int signal) {
  if (s_nStopSignal == 0) {
    s_nStopSignal = signal;
  }
}

}  // namespace

extern "C" {
static void OnStopSignal(int signal) { RecordStop(signal); }
}

namespace NSCheckerTool {

namespace {

// The signal that ended a command the user interrupted: the shell killed by
// SIGINT or SIGQUIT, or a shell that reported its child's death by one as
// 128 + the signal.
int InterruptOf(int status) {
  if (status == -1) {
    return 0;
  }
  int signal = 0;
  if (WIFSIGNALED(status)) {
    signal = WTERMSIG(status);
  } else if (WIFEXITED(status) && WEXITSTATUS(status) > 128) {
    signal = WEXITSTATUS(status) - 128;
  }
  return signal == SIGINT || signal == SIGQUIT ? signal : 0;
}

// Sets PATH for the duration of one command and puts the old value back.
class ScopedPath {
 public:
  ScopedPath() {
    const char* path = std::getenv("PATH");
    if (path == nullptr) {
      return;  // the shell's own default path holds no relative element
    }
    m_strOld = path;
    const std::string clean = AbsolutePath(m_strOld);
    if (clean != m_strOld) {
      m_bChanged = ::setenv("PATH", clean.c_str(), 1) == 0;
    }
  }
  ~ScopedPath() {
    if (m_bChanged) {
      (void)::setenv("PATH", m_strOld.c_str(), 1);  // the value was there before
    }
  }
  ScopedPath(const ScopedPath&) = delete;
  ScopedPath& operator=(const ScopedPath&) = delete;

 private:
  std::string m_strOld;
  bool m_bChanged = false;
};

// The parent of every process, as /proc shows them now.
std::map<pid_t, pid_t> Parents() {
  std::map<pid_t, pid_t> parents;
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) {
    return parents;
  }
  while (const struct dirent* entry = ::readdir(proc)) {
    char* end = nullptr;
    const long pid = std::strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0' || pid <= 0) {
      continue;
    }
    char path[64];
    (void)std::snprintf(path, sizeof path, "/proc/%ld/stat", pid);
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      continue;  // gone meanwhile
    }
    char stat[512];
    const ssize_t n = ::read(fd, stat, sizeof stat - 1);
    ::close(fd);  // read-only: nothing to lose on close
    if (n <= 0) {
      continue;
    }
    stat[n] = '\0';
    // "pid (name) state ppid ...": the name may hold anything, ")" too.
    const char* close = std::strrchr(stat, ')');
    if (close == nullptr || std::strlen(close) < 4) {
      continue;
    }
    char* parsed = nullptr;
    const long parent = std::strtol(close + 4, &parsed, 10);  // after ") S "
    if (parsed != close + 4) {
      parents[static_cast<pid_t>(pid)] = static_cast<pid_t>(parent);
    }
  }
  ::closedir(proc);
  return parents;
}

// Every process below the roots (the roots themselves not included).
std::set<pid_t> Below(const std::set<pid_t>& roots) {
  std::multimap<pid_t, pid_t> children;
  for (const auto& entry : Parents()) {
    children.emplace(entry.second, entry.first);
  }
  std::set<pid_t> found;
  std::vector<pid_t> todo(roots.begin(), roots.end());
  while (!todo.empty()) {
    const pid_t parent = todo.back();
    todo.pop_back();
    const auto range = children.equal_range(parent);
    for (auto it = range.first; it != range.second; ++it) {
      if (found.insert(it->second).second) {
        todo.push_back(it->second);
      }
    }
  }
  return found;
}

// Whether the process is a copy into a system file (cp or install). Once
// one runs, it is left to finish: stopped half way, it would leave the file
// cut short. (A process of root's cannot be looked at by anyone else, and
// not be signalled either.)
bool IsCopy(pid_t pid) {
  char exe[64];
  (void)std::snprintf(exe, sizeof exe, "/proc/%ld/exe", static_cast<long>(pid));
  struct stat running {};
  if (::stat(exe, &running) != 0) {
    return false;
  }
  for (const char* copy : {"/bin/cp", "/usr/bin/install"}) {
    struct stat st {};
    if (::stat(copy, &st) == 0 && st.st_dev == running.st_dev && st.st_ino == running.st_ino) {
      return true;
    }
  }
  return false;
}

// Waits for the shell. A stop signal that arrives meanwhile is passed on to
// every process the shell started (the shell then ends with its command);
// those that outlive the shell were made our children (we are their
// subreaper) and are waited for too, so that nothing of the command goes on
// after the program.
int WaitForShell(pid_t shell, const sigset_t& waitFor) {
  int status = -1;
  bool shellDone = false;
  std::set<pid_t> stopped;  // the processes the stop was passed on to
  for (;;) {
    if (!shellDone) {
      const pid_t ended = ::waitpid(shell, &status, WNOHANG);
      if (ended == shell || (ended < 0 && errno != EINTR)) {
        shellDone = true;
        if (ended < 0) {
          status = -1;
        }
      }
    }
    const int stop = s_nStopSignal;
    if (stop != 0) {
      std::set<pid_t> roots = stopped;
      if (!shellDone) {
        roots.insert(shell);
      }
      for (const pid_t pid : Below(roots)) {
        if (pid != shell && stopped.count(pid) == 0 && !IsCopy(pid)) {
          (void)::kill(pid, stop);  // one that is not ours to signal goes on
          stopped.insert(pid);
        }
      }
    }
    if (shellDone) {
      for (auto it = stopped.begin(); it != stopped.end();) {
        int ignored = 0;
        const pid_t ended = ::waitpid(*it, &ignored, WNOHANG);
        it = ended == *it || (ended < 0 && errno == ECHILD) ? stopped.erase(it) : std::next(it);
      }
      if (stopped.empty()) {
        break;
      }
    }
    // Until a child ends or a stop signal comes; while stopping, look again
    // now and then for processes the command has started since.
    siginfo_t info{};
    struct timespec tick {
      0, 50L * 1000 * 1000
    };
    const int signal =
        stop != 0 ? ::sigtimedwait(&waitFor, &info, &tick) : ::sigwaitinfo(&waitFor, &info);
    if (signal > 0 && signal != SIGCHLD) {
      RecordStop(signal);
    }
  }
  return status;
}

}  // namespace

void CatchStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (const int signal : kStopSignals) {
    sigaddset(&action.sa_mask, signal);
  }
  for (const int signal : kStopSignals) {
    (void)::sigaction(signal, &action, nullptr);  // valid signals: cannot fail
  }
}

int InterruptSignal() { return s_nStopSignal; }

int System(const std::string& command) { return System(command, -1); }

int System(const std::string& command, int input) {
  // An empty or relative element of PATH makes the shell look in the working
  // directory, where anyone who can write there could plant a "pkexec".
  ScopedPath path;
  // The shell is waited for with waitpid(). With SIGCHLD ignored the kernel
  // would reap it by itself and its status would be lost, so a failed copy
  // could look like a success.
  struct sigaction byDefault {};
  byDefault.sa_handler = SIG_DFL;
  sigemptyset(&byDefault.sa_mask);
  struct sigaction keptChld {};
  const bool chldSet = ::sigaction(SIGCHLD, &byDefault, &keptChld) == 0;
  // SIGCHLD and the stop signals are taken one by one while the command
  // runs, so that none is lost, not even one that comes before we wait.
  sigset_t waitFor;
  sigemptyset(&waitFor);
  sigaddset(&waitFor, SIGCHLD);
  for (const int signal : kStopSignals) {
    sigaddset(&waitFor, signal);
  }
  sigset_t keptMask;
  (void)::sigprocmask(SIG_BLOCK, &waitFor, &keptMask);
  int keptReaper = 0;
  (void)::prctl(PR_GET_CHILD_SUBREAPER, &keptReaper);
  (void)::prctl(PR_SET_CHILD_SUBREAPER, 1);

  int status = -1;
  const pid_t shell = ::fork();
  if (shell == 0) {
    // The command starts as system() starts it: with the signal actions the
    // program had (ours, caught, are the defaults again), the mask it had,
    // and the program's standard input unless another one is given.
    for (const int signal : kStopSignals) {
      struct sigaction current {};
      if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler != SIG_IGN) {
        (void)::sigaction(signal, &byDefault, nullptr);
      }
    }
    if (input == STDIN_FILENO) {
      (void)::fcntl(STDIN_FILENO, F_SETFD, 0);
    } else if (input >= 0 && ::dup2(input, STDIN_FILENO) < 0) {
      ::_exit(127);
    }
    (void)::sigprocmask(SIG_SETMASK, &keptMask, nullptr);
    // The shell is the interface here: the command runs as the command line
    // the callers built, with paths quoted where they need it.
    ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  if (shell > 0) {
    status = WaitForShell(shell, waitFor);
  }

  (void)::prctl(PR_SET_CHILD_SUBREAPER, keptReaper);
  // The shell's SIGCHLD is ours: no handler of the caller's sees it.
  sigset_t chld;
  sigemptyset(&chld);
  sigaddset(&chld, SIGCHLD);
  const struct timespec now {};
  while (::sigtimedwait(&chld, nullptr, &now) == SIGCHLD) {
  }
  (void)::sigprocmask(SIG_SETMASK, &keptMask, nullptr);
  if (chldSet) {
    (void)::sigaction(SIGCHLD, &keptChld, nullptr);  // restoring what was there cannot fail
  }
  // A Ctrl-C reaches the command as well; remember it even where it reached
  // the command alone.
  if (const int signal = InterruptOf(status)) {
    RecordStop(signal);
  }
  return status;
}

std::string AbsolutePath(const std::string& path) {
  std::string clean;
  std::size_t begin = 0;
  while (begin <= path.size()) {
    std::size_t end = path.find(':', begin);
    if (end == std::string::npos) {
      end = path.size();
    }
    if (end > begin && path[begin] == '/') {
      if (!clean.empty()) {
        clean += ':';
      }
      clean.append(path, begin, end - begin);
    }
    begin = end + 1;
  }
  if (clean.empty()) {
    // What an unset PATH means to the C library: the standard utilities.
    char buffer[256] = {};
    const std::size_t needed = ::confstr(_CS_PATH, buffer, sizeof buffer);
    clean = needed > 0 && needed <= sizeof buffer ? buffer : "/bin:/usr/bin";
  }
  return clean;
}

}  // namespace NSCheckerTool
