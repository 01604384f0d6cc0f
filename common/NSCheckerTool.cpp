#include "common/NSCheckerTool.h"

#include <unistd.h>
#include <cstdlib>

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

std::string CleanPath() {
  const char* path = std::getenv("PATH");
  return AbsolutePath(path != nullptr ? path : "");
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
