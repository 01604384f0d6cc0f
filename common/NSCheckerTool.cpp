#include "common/NSCheckerTool.h"

#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cstdlib>

namespace NSCheckerTool {

namespace {

int s_nInterruptSignal = 0;

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

}  // namespace

int System(const std::string& command) {
  // An empty or relative element of PATH makes the shell look in the working
  // directory, where anyone who can write there could plant a "pkexec".
  ScopedPath path;
  // system() waits for the shell with waitpid(). With SIGCHLD ignored the
  // kernel reaps the child by itself and system() could not see its status,
  // so a failed copy could look like a success.
  void (*kept)(int) = std::signal(SIGCHLD, SIG_DFL);
  // The shell is the interface here: the copy runs as the command line the
  // callers built, with paths quoted where they need it.
  int status = std::system(command.c_str());  // NOLINT(cert-env33-c)
  if (kept != SIG_ERR) {
    (void)std::signal(SIGCHLD, kept);  // restoring what was there cannot fail
  }
  // system() ignores SIGINT and SIGQUIT in the caller while the command runs,
  // so a Ctrl-C reaches only the command; remember it, so that the run stops
  // repairing and ends by the same signal once its report is written.
  if (const int signal = InterruptOf(status)) {
    s_nInterruptSignal = signal;
  }
  return status;
}

int InterruptSignal() { return s_nInterruptSignal; }

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

std::string GetOSTempPath() { return "/tmp"; }

std::string QuoteForShell(const std::string& path) {
  bool plain = !path.empty();
  for (char c : path) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '/' || c == '.' || c == '_' || c == '-' || c == '+' || c == ',' || c == ':' ||
              c == '@' || c == '%';
    if (!ok) {
      plain = false;
      break;
    }
  }
  if (plain) {
    return path;
  }
  std::string quoted = "'";
  for (char c : path) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  quoted += '\'';
  return quoted;
}

std::string CopyCommand(const std::string& from, const std::string& to, bool targetMissing) {
  // cp by its absolute path: pkexec would look a bare name up in the caller's
  // PATH, and a "cp" planted there would then run as root.
  return std::string("pkexec /bin/cp ") + (targetMissing ? "--preserve=mode " : "") +
         QuoteForShell(from) + " " + QuoteForShell(to);
}

}  // namespace NSCheckerTool
