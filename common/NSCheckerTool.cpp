#include "common/NSCheckerTool.h"

namespace NSCheckerTool {

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

std::vector<std::string> CopyCommand(const std::string& to, bool targetMissing) {
  // The programs by their absolute paths: pkexec would look a bare name up
  // in the caller's PATH, and a "cp" planted there would then run as root.
  // -T: a target that has become a directory fails the copy instead of
  // receiving the text as a file inside it.
  if (targetMissing) {
    return {"pkexec", "/usr/bin/install", "-m", "0644", "-T", "/dev/stdin", to};
  }
  return {"pkexec", "/bin/cp", "-T", "-u", "--no-preserve=mode", "/dev/stdin", to};
}

}  // namespace NSCheckerTool
