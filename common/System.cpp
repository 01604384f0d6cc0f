// The runner of the program's commands, and the signals that stop a run.
#include "common/Runner.h"

#include "common/NSCheckerTool.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>

extern char** environ;  // NOLINT(readability-redundant-declaration): POSIX leaves it undeclared

namespace {

// The first stop signal of the run (caught, taken while a command runs, or
// read from the status of a command that the user interrupted), and how
// many stops came so far.
volatile std::sig_atomic_t s_nStopSignal = 0;
volatile std::sig_atomic_t s_nStops = 0;

constexpr int kStopSignals[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP};

bool Ignored(int signal) {
  struct sigaction current {};
  return ::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

void RecordStop(int signal) {
  if (s_nStopSignal == 0) {
    s_nStopSignal = signal;
  }
  s_nStops = s_nStops + 1;
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

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  pointers.reserve(strings.size() + 1);
  for (std::string& s : strings) {
    pointers.push_back(s.data());
  }
  pointers.push_back(nullptr);
  return pointers;
}

// Our environment, with PATH cleaned where it is set (the shell's own
// default path holds no relative element).
std::vector<std::string> OwnEnvironment() {
  std::vector<std::string> env;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, "PATH=", 5) == 0) {
      env.push_back("PATH=" + AbsolutePath(*entry + 5));
    } else {
      env.emplace_back(*entry);
    }
  }
  return env;
}

// Puts the terminal's modes back when a prompt we ended had changed them
// (a text agent turns echo off while it reads a password); once only, so
// that what another program sets on the terminal later stays.
class TerminalModes {
 public:
  TerminalModes() {
    m_nFd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (m_nFd >= 0 && ::tcgetattr(m_nFd, &m_modes) != 0) {
      Close();
    }
  }
  ~TerminalModes() { Close(); }
  TerminalModes(const TerminalModes&) = delete;
  TerminalModes& operator=(const TerminalModes&) = delete;

  void Restore() {
    if (m_nFd < 0) {
      return;
    }
    // From a background process group too: SIGTTOU blocked lets the call
    // through instead of stopping us.
    sigset_t ttou;
    sigset_t kept;
    sigemptyset(&ttou);
    sigaddset(&ttou, SIGTTOU);
    (void)::sigprocmask(SIG_BLOCK, &ttou, &kept);
    (void)::tcsetattr(m_nFd, TCSANOW, &m_modes);
    (void)::sigprocmask(SIG_SETMASK, &kept, nullptr);
    Close();
  }

 private:
  void Close() {
    if (m_nFd >= 0) {
      ::close(m_nFd);  // nothing written through it: nothing to lose
      m_nFd = -1;
    }
  }
  int m_nFd = -1;
  struct termios m_modes {};
};

// Stops us as Ctrl-Z would have: SIGTSTP is blocked here and at its default
// action, so raised and let through it stops the process until a SIGCONT.
void StopAsCtrlZ() {
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, SIGTSTP);
  (void)::raise(SIGTSTP);
  (void)::sigprocmask(SIG_UNBLOCK, &only, nullptr);
  (void)::sigprocmask(SIG_BLOCK, &only, nullptr);
}

// Signals the privileged child starts with ignored, kept through exec,
// pkexec and the copy: a Ctrl-C, Ctrl-Z or hang-up that the terminal sends
// to the whole process group, or a job in the background, never stops or
// cuts the copy short; only we decide when a prompt ends.
constexpr int kIgnoredByTheCopy[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGTSTP, SIGTTIN, SIGTTOU};

}  // namespace

int Run(Command& command) {
  std::vector<char*> args = Pointers(command.args);
  std::vector<char*> env = Pointers(command.env);
  std::optional<TerminalModes> terminal;
  if (command.privileged) {
    terminal.emplace();
  }
  // The child is waited for with waitpid(). With SIGCHLD ignored the kernel
  // would reap it by itself and its status would be lost, so a failed copy
  // could look like a success.
  struct sigaction byDefault {};
  byDefault.sa_handler = SIG_DFL;
  sigemptyset(&byDefault.sa_mask);
  struct sigaction keptChld {};
  const bool chldSet = ::sigaction(SIGCHLD, &byDefault, &keptChld) == 0;
  // SIGCHLD and the stop signals (and Ctrl-Z while a prompt may be open)
  // are read from a descriptor while the command runs, so that none is
  // lost, not even one that comes before we wait, and the watch is waited
  // for in the same call. An ignored one stays out: blocked, it would be
  // kept and taken.
  sigset_t waitFor;
  sigemptyset(&waitFor);
  sigaddset(&waitFor, SIGCHLD);
  for (const int signal : kStopSignals) {
    if (!Ignored(signal)) {
      sigaddset(&waitFor, signal);
    }
  }
  if (command.privileged && !Ignored(SIGTSTP)) {
    sigaddset(&waitFor, SIGTSTP);
  }
  sigset_t keptMask;
  (void)::sigprocmask(SIG_BLOCK, &waitFor, &keptMask);
  const int signals = ::signalfd(-1, &waitFor, SFD_CLOEXEC | SFD_NONBLOCK);

  int status = -1;
  const pid_t child = signals >= 0 ? ::fork() : -1;
  if (child == 0) {
    if (command.privileged) {
      for (const int signal : kIgnoredByTheCopy) {
        (void)std::signal(signal, SIG_IGN);
      }
      (void)::umask(022);  // a file the copy creates is 0644, whatever ours was
    } else {
      for (const int signal : kStopSignals) {
        if (!Ignored(signal)) {
          (void)::sigaction(signal, &byDefault, nullptr);  // as system() starts a command
        }
      }
    }
    // dup2() onto itself would leave a close-on-exec flag in place.
    if ((command.input == STDIN_FILENO && ::fcntl(STDIN_FILENO, F_SETFD, 0) != 0) ||
        (command.input > STDIN_FILENO && ::dup2(command.input, STDIN_FILENO) < 0) ||
        (command.output >= 0 && ::dup2(command.output, STDOUT_FILENO) < 0)) {
      ::_exit(127);
    }
    (void)::sigprocmask(SIG_SETMASK, &keptMask, nullptr);
    int failure = ENOENT;
    for (const std::string& file : command.files) {
      ::execve(file.c_str(), args.data(), env.data());
      if (errno != ENOENT && errno != ENOTDIR) {
        failure = errno;
      }
    }
    ::_exit(failure == ENOENT ? 127 : 126);  // what a shell answers
  }
  if (child > 0) {
    bool ended = false;    // we ended it
    bool watched = false;  // the watch asked for its end
    bool suspend = false;  // Ctrl-Z came
    // Ours no more, left to finish: root's copy (from the start when we are
    // root ourselves, and there is no prompt).
    bool copying = command.privileged && ::geteuid() == 0;
    for (;;) {
      const pid_t done = ::waitpid(child, &status, WNOHANG);
      if (done == child || (done < 0 && errno != EINTR)) {
        status = done == child ? status : -1;
        break;
      }
      if ((s_nStopSignal != 0 || watched || suspend) && !ended && !copying) {
        ended = ::kill(child, SIGKILL) == 0;
        copying = !ended;
      }
      if (suspend) {
        if (ended && terminal) {
          terminal->Restore();
        }
        StopAsCtrlZ();
        suspend = false;
      }
      const bool watching = command.watchFd >= 0 && !ended && !copying && !watched;
      struct pollfd ready[2] = {{signals, POLLIN, 0}, {command.watchFd, POLLIN, 0}};
      const int woken = ::poll(ready, watching ? 2 : 1, watching ? kWatchRecheckMs : -1);
      if (woken < 0 && errno != EINTR) {
        if (::waitpid(child, &status, 0) != child) {
          status = -1;
        }
        break;
      }
      struct signalfd_siginfo info {};
      while (::read(signals, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        const int signal = static_cast<int>(info.ssi_signo);
        if (signal == SIGTSTP) {
          suspend = true;
        } else if (signal != SIGCHLD) {
          RecordStop(signal);
        }
      }
      if (watching && (woken == 0 || (ready[1].revents & POLLIN) != 0) && command.watchSaysEnd) {
        watched = command.watchSaysEnd();
      }
    }
    if (ended && terminal) {
      terminal->Restore();
    }
  }
  if (signals >= 0) {
    ::close(signals);  // read-only use: nothing to lose
  }

  // The child's SIGCHLD is ours: no handler of the caller's sees it.
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

namespace {

Command Shell(const std::string& line) {
  Command command;
  command.files = {"/bin/sh"};
  command.args = {"sh", "-c", line};
  command.env = OwnEnvironment();
  return command;
}

}  // namespace

void CatchStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  // No SA_RESTART: a stop ends whatever call waits (an open of a FIFO, a
  // write to a pipe nobody reads, a read of a shell's output).
  action.sa_flags = 0;
  sigemptyset(&action.sa_mask);
  for (const int signal : kStopSignals) {
    sigaddset(&action.sa_mask, signal);
  }
  for (const int signal : kStopSignals) {
    // A signal ignored at our start stays ignored (nohup, a background job
    // of a script), as shells and the standard utilities keep it.
    if (!Ignored(signal)) {
      (void)::sigaction(signal, &action, nullptr);  // valid signals: cannot fail
    }
  }
}

int InterruptSignal() { return s_nStopSignal; }

int StopCount() { return s_nStops; }

int System(const std::string& command) { return System(command, -1); }

int System(const std::string& command, int input) {
  Command shell = Shell(command);
  shell.input = input;
  return Run(shell);
}

int ShellOutput(const std::string& command, int output) {
  Command shell = Shell(command);
  shell.output = output;
  return Run(shell);
}

}  // namespace NSCheckerTool
