#include "common/NSCheckerTool.h"

#include <csignal>
#include <cstdlib>

namespace NSCheckerTool {

int System(const std::string& command) {
  // system() waits for the shell with waitpid(). With SIGCHLD ignored the
  // kernel reaps the child by itself and system() could not see its status,
  // so a failed move would look like a success.
  void (*kept)(int) = std::signal(SIGCHLD, SIG_DFL);
  // The shell is the interface here: the move runs as the command line the
  // callers built, with paths quoted where they need it.
  int status = std::system(command.c_str());  // NOLINT(cert-env33-c)
  if (kept != SIG_ERR) {
    (void)std::signal(SIGCHLD, kept);  // restoring what was there cannot fail
  }
  return status;
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

std::string MoveCommand(const std::string& from, const std::string& to) {
  return "pkexec mv " + QuoteForShell(from) + " " + QuoteForShell(to);
}

}  // namespace NSCheckerTool
