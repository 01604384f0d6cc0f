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

// Gives the terminal its echo back when a prompt we ended had turned it off
// (a text agent does while it reads a password); once only, so that what
// another program sets on the terminal later stays. Nothing else of the
// modes is touched: what the user set meanwhile (while the job was stopped,
// say) stays too.
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

  // Only where the prompt had the terminal: while our job has it, or when
  // the prompt was ended for a key typed on it (Ctrl-Z: the job's first
  // process may have stopped and given it back to the shell already). And
  // only where it still reads as a prompt left it, lines with no echo: a
  // shell's line editor that has taken it (no lines) is left alone, and so
  // is a terminal whose echo was off before the prompt began.
  void Restore(bool hadTheTerminal) {
    constexpr tcflag_t kEcho = ECHO | ECHOE | ECHOK | ECHONL | ECHOCTL | ECHOKE;
    struct termios now {};
    if (m_nFd >= 0 && (hadTheTerminal || ::tcgetpgrp(m_nFd) == ::getpgrp()) &&
        ::tcgetattr(m_nFd, &now) == 0 && (now.c_lflag & (ICANON | ECHO)) == ICANON &&
        (m_modes.c_lflag & ECHO) != 0) {
      now.c_lflag = (now.c_lflag & ~kEcho) | (m_modes.c_lflag & kEcho);
      // SIGTTOU blocked lets the call through instead of stopping us.
      sigset_t ttou;
      sigset_t kept;
      sigemptyset(&ttou);
      sigaddset(&ttou, SIGTTOU);
      (void)::sigprocmask(SIG_BLOCK, &ttou, &kept);
      (void)::tcsetattr(m_nFd, TCSANOW, &now);
      (void)::sigprocmask(SIG_SETMASK, &kept, nullptr);
    }
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

// Stops us with signal (Ctrl-Z's SIGTSTP, or the terminal's SIGTTIN or
// SIGTTOU for a background job): it is blocked here and at its default
// action, so raised and let through it stops the process until a SIGCONT.
void StopWith(int signal) {
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  (void)::raise(signal);
  (void)::sigprocmask(SIG_UNBLOCK, &only, nullptr);
  (void)::sigprocmask(SIG_BLOCK, &only, nullptr);
}

// Signals the privileged child starts with ignored, kept through exec,
// pkexec and the copy: a Ctrl-C, Ctrl-Z or hang-up that the terminal sends
// to the whole process group never stops or cuts the copy short; only we
// decide when a prompt ends. SIGTTIN and SIGTTOU stay as they were: a
// prompt that reads the terminal from a background job stops with the job
// until fg, instead of changing its modes or reading nothing.
constexpr int kIgnoredByTheCopy[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGTSTP};

[[noreturn]] void ExecChild(const Command& command, std::vector<char*>& args,
                            std::vector<char*>& env, const sigset_t& startMask) {
  struct sigaction byDefault {};
  byDefault.sa_handler = SIG_DFL;
  sigemptyset(&byDefault.sa_mask);
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
  (void)::sigprocmask(SIG_SETMASK, &startMask, nullptr);
  int failure = ENOENT;
  for (const std::string& file : command.files) {
    ::execve(file.c_str(), args.data(), env.data());
    if (errno != ENOENT && errno != ENOTDIR) {
      failure = errno;
    }
  }
  ::_exit(failure == ENOENT ? 127 : 126);  // what a shell answers
}

// One command from its start to its end: what its child is doing, and the
// events that move it on (the child's end, a stop signal, Ctrl-Z, the
// terminal stopping a background job, the watch and its tick).
//
//   Asking   the child is ours: a plain command, or pkexec before it is
//            authorised. A stop or the watch ends it (SIGKILL: it may
//            ignore any other signal); Ctrl-Z ends it too, we stop, and once
//            we go on (fg or bg) it asks again.
//   Ending   killed by us, to be reaped; then the terminal gets back the
//            modes it had when the prompt started, once, and only while we
//            are in the foreground.
//   Copying  pkexec authorised runs as root (kill() is refused): the copy.
//            It is never signalled; Ctrl-Z stops us, not it.
//   Resumed  back from Ctrl-Z with the prompt ended: asked again, unless a
//            stop came or the watch saw a change meanwhile.
//   Done     reaped; its wait status is the run's result.
class CommandRun {
 public:
  CommandRun(Command& command, int signals, const sigset_t& startMask)
      : m_command(command),
        m_nSignals(signals),
        m_startMask(startMask),
        m_args(Pointers(command.args)),
        m_env(Pointers(command.env)) {}

  int Finish() {
    Start();
    while (m_state != State::Done) {
      if (m_state == State::Resumed) {
        TakeSignals();  // a stop that came while we were stopped
        AskAgain();
      } else {
        WaitForEvent();
      }
    }
    return m_nStatus;
  }

 private:
  enum class State { Asking, Ending, Copying, Resumed, Done };

  void Start() {
    const bool prompt = m_command.privileged && ::geteuid() != 0;
    if (prompt) {
      m_terminal.emplace();  // as it is now: the user may have changed it while we were stopped
      m_bKeyTyped = false;
    }
    m_pid = ::fork();
    if (m_pid == 0) {
      ExecChild(m_command, m_args, m_env, m_startMask);
    }
    m_nStatus = -1;
    // Run as root, there is no prompt: the command is the copy from its start.
    m_state = m_pid < 0 ? State::Done : m_command.privileged && !prompt ? State::Copying : State::Asking;
  }

  void WaitForEvent() {
    if (m_state == State::Asking && InterruptSignal() != 0) {
      End();  // a stop that came before the wait began (caught, not read here)
    }
    int status = 0;
    const pid_t done = ::waitpid(m_pid, &status, WNOHANG);
    if (done == m_pid || (done < 0 && errno != EINTR)) {
      ChildEnded(done == m_pid ? status : -1);
      return;
    }
    const bool watching =
        m_state == State::Asking && m_command.watchFd >= 0 && m_command.watchSaysEnd;
    struct pollfd ready[2] = {{m_nSignals, POLLIN, 0}, {m_command.watchFd, POLLIN, 0}};
    const int woken = ::poll(ready, watching ? 2 : 1, watching ? kWatchRecheckMs : -1);
    if (woken < 0 && errno != EINTR) {
      ChildEnded(::waitpid(m_pid, &status, 0) == m_pid ? status : -1);
      return;
    }
    TakeSignals();
    if (watching && m_state == State::Asking && (woken == 0 || (ready[1].revents & POLLIN) != 0) &&
        m_command.watchSaysEnd()) {
      End();
    }
  }

  // Every signal that has come, in the kernel's order (the stop signals
  // before Ctrl-Z); a terminal's stop of the job last, so that a stop
  // signal that came with it is obeyed first.
  void TakeSignals() {
    int terminalStop = 0;
    struct signalfd_siginfo info {};
    while (::read(m_nSignals, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
      const int signal = static_cast<int>(info.ssi_signo);
      // The terminal sends its keys' signals (Ctrl-C, Ctrl-\, Ctrl-Z) to
      // the job that has it.
      m_bKeyTyped = m_bKeyTyped || ((signal == SIGINT || signal == SIGQUIT || signal == SIGTSTP) &&
                                    info.ssi_code == SI_KERNEL);
      if (signal == SIGTSTP) {
        CtrlZ();
      } else if (signal == SIGTTIN || signal == SIGTTOU) {
        terminalStop = signal;
      } else if (signal != SIGCHLD) {
        Stop(signal);
      }
    }
    if (terminalStop != 0 && (m_state == State::Asking || m_state == State::Copying)) {
      StopWith(terminalStop);  // with the prompt, which the terminal stopped too
    }
  }

  void Stop(int signal) {
    RecordStop(signal);
    if (m_state == State::Asking) {
      End();
    } else if (m_state == State::Resumed) {
      m_state = State::Done;  // no new prompt after a stop
    }
  }

  void CtrlZ() {
    if (m_state == State::Asking) {
      End();
      m_bSuspend = m_state == State::Ending;
    } else if (m_state == State::Ending) {
      m_bSuspend = true;  // once the prompt is gone
    }
    if (m_state == State::Copying) {
      StopWith(SIGTSTP);  // the copy goes on while we are stopped
    }
  }

  // Kill only while asking: refused, pkexec runs as root and the copy is
  // under way.
  void End() { m_state = ::kill(m_pid, SIGKILL) == 0 ? State::Ending : State::Copying; }

  void ChildEnded(int status) {
    m_nStatus = status;
    const bool endedByUs = m_state == State::Ending;
    m_state = State::Done;
    if (!endedByUs) {
      return;  // it ended by itself: what it left on the terminal stays
    }
    if (m_terminal) {
      m_terminal->Restore(m_bKeyTyped);
    }
    if (m_bSuspend) {
      m_bSuspend = false;
      StopWith(SIGTSTP);
      m_state = State::Resumed;
    }
  }

  void AskAgain() {
    if (m_state != State::Resumed) {
      return;
    }
    if (InterruptSignal() != 0 || (m_command.watchSaysEnd && m_command.watchSaysEnd())) {
      m_state = State::Done;  // what the killed prompt ended with stays the result
      return;
    }
    if (m_command.input >= 0) {
      (void)::lseek(m_command.input, 0, SEEK_SET);  // the text from its start, as the first time
    }
    Start();
  }

  Command& m_command;
  const int m_nSignals;
  const sigset_t m_startMask;
  std::vector<char*> m_args;
  std::vector<char*> m_env;
  State m_state = State::Done;
  pid_t m_pid = -1;
  int m_nStatus = -1;
  bool m_bSuspend = false;  // Ctrl-Z came: we stop once the prompt is gone
  bool m_bKeyTyped = false;  // a signal came from a key typed on the terminal
  std::optional<TerminalModes> m_terminal;  // the echo when the prompt started
};

}  // namespace

int Run(Command& command) {
  // The child is waited for with waitpid(). With SIGCHLD ignored the kernel
  // would reap it by itself and its status would be lost, so a failed copy
  // could look like a success.
  struct sigaction byDefault {};
  byDefault.sa_handler = SIG_DFL;
  sigemptyset(&byDefault.sa_mask);
  struct sigaction keptChld {};
  const bool chldSet = ::sigaction(SIGCHLD, &byDefault, &keptChld) == 0;
  // SIGCHLD and the stop signals (and, for a prompt, Ctrl-Z and the
  // terminal's stops of a background job) are read from a descriptor while
  // the command runs, so that none is lost, not even one that comes before
  // we wait, and the watch is waited for in the same call. An ignored one
  // stays out: blocked, it would be kept and taken.
  sigset_t waitFor;
  sigemptyset(&waitFor);
  sigaddset(&waitFor, SIGCHLD);
  for (const int signal : kStopSignals) {
    if (!Ignored(signal)) {
      sigaddset(&waitFor, signal);
    }
  }
  for (const int signal : {SIGTSTP, SIGTTIN, SIGTTOU}) {
    if (command.privileged && !Ignored(signal)) {
      sigaddset(&waitFor, signal);
    }
  }
  sigset_t keptMask;
  (void)::sigprocmask(SIG_BLOCK, &waitFor, &keptMask);
  const int signals = ::signalfd(-1, &waitFor, SFD_CLOEXEC | SFD_NONBLOCK);
  const int status = signals >= 0 ? CommandRun(command, signals, keptMask).Finish() : -1;
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

bool StopCameSince(int stops) {
  sigset_t pending;
  if (s_nStops != stops || ::sigpending(&pending) != 0) {
    return true;
  }
  for (const int signal : kStopSignals) {
    if (sigismember(&pending, signal) == 1) {
      return true;
    }
  }
  return false;
}

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
