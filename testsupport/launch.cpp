// Starts a program the way a test needs it started and tells how it ended.
//
// usage: launch [--ignore-sigchld] [--group] [--pidfile FILE] [--outcome FILE]
//               [--] PROGRAM [ARG...]
//
//   --ignore-sigchld  the program starts with SIGCHLD ignored (a shell's
//                     `trap "" CHLD` is not passed on through exec by dash)
//   --group           the program leads a process group of its own, so a
//                     signal can be sent to it and its children alone
//   --pidfile FILE    the program's process id is written there once it runs
//   --outcome FILE    "exit N" or "signal N" is written there at the end
//
// SIGINT and SIGQUIT reach the program at their default action, as from a
// terminal, even where the test runs in the background; no core is dumped.
// launch exits with the program's status, or 128 + the signal that ended it.
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

bool WriteText(const char* path, const std::string& text) {
  FILE* file = std::fopen(path, "w");
  if (file == nullptr) {
    return false;
  }
  const bool ok = std::fputs(text.c_str(), file) >= 0;
  return std::fclose(file) == 0 && ok;
}

int Usage() {
  (void)std::fputs(
      "usage: launch [--ignore-sigchld] [--group] [--pidfile FILE] "
      "[--outcome FILE] [--] PROGRAM [ARG...]\n",
      stderr);
  return 2;
}

}  // namespace

int main(int argc, char* argv[]) {
  bool ignoreSigchld = false;
  bool group = false;
  const char* pidFile = nullptr;
  const char* outcomeFile = nullptr;
  int first = 1;
  for (; first < argc; ++first) {
    const std::string arg = argv[first];
    if (arg == "--ignore-sigchld") {
      ignoreSigchld = true;
    } else if (arg == "--group") {
      group = true;
    } else if (arg == "--pidfile" && first + 1 < argc) {
      pidFile = argv[++first];
    } else if (arg == "--outcome" && first + 1 < argc) {
      outcomeFile = argv[++first];
    } else if (arg == "--") {
      ++first;
      break;
    } else if (arg.compare(0, 2, "--") == 0) {
      return Usage();
    } else {
      break;
    }
  }
  if (first >= argc) {
    return Usage();
  }

  const pid_t child = ::fork();
  if (child < 0) {
    std::perror("launch: fork");
    return 2;
  }
  if (child == 0) {
    if (group) {
      (void)::setpgid(0, 0);
    }
    (void)std::signal(SIGINT, SIG_DFL);
    (void)std::signal(SIGQUIT, SIG_DFL);
    const struct rlimit noCore { 0, 0 };
    (void)::setrlimit(RLIMIT_CORE, &noCore);
    if (ignoreSigchld) {
      (void)std::signal(SIGCHLD, SIG_IGN);  // kept across exec
    }
    ::execvp(argv[first], argv + first);
    std::perror("launch: exec");
    ::_exit(127);
  }
  if (group) {
    (void)::setpgid(child, child);  // also here, so it holds before anyone signals it
  }
  // A signal meant for the program's group must not end us first.
  (void)std::signal(SIGINT, SIG_IGN);
  (void)std::signal(SIGQUIT, SIG_IGN);
  if (pidFile != nullptr && !WriteText(pidFile, std::to_string(child) + "\n")) {
    std::perror("launch: pid file");
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) {
      std::perror("launch: waitpid");
      return 2;
    }
  }
  std::string outcome;
  int code = 0;
  if (WIFSIGNALED(status)) {
    outcome = "signal " + std::to_string(WTERMSIG(status));
    code = 128 + WTERMSIG(status);
  } else {
    outcome = "exit " + std::to_string(WEXITSTATUS(status));
    code = WEXITSTATUS(status);
  }
  if (outcomeFile != nullptr && !WriteText(outcomeFile, outcome + "\n")) {
    std::perror("launch: outcome file");
  }
  return code;
}
