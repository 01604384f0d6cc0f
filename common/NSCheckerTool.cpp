#include "common/NSCheckerTool.h"

#include <unistd.h>
#include <cstdlib>
#include <cstring>
#include <string_view>

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

std::string CleanPath() {
  const char* path = std::getenv("PATH");
  return AbsolutePath(path != nullptr ? path : "");
}

std::vector<std::string> PkexecEnvironment() {
  static const char* const kPassed[] = {
      "LANG",        "LINGUAS", "LANGUAGE", "LC_COLLATE", "LC_CTYPE", "LC_MESSAGES", "LC_MONETARY",
      "LC_NUMERIC",  "LC_TIME", "LC_ALL",   "TERM",       "COLORTERM", "DISPLAY",    "XAUTHORITY"};
  std::vector<std::string> env{"PATH=" + CleanPath()};
  for (const char* name : kPassed) {
    const char* value = std::getenv(name);
    if (value == nullptr) {
      continue;
    }
    const std::string_view text(value);
    const bool slashAllowed = std::strcmp(name, "XAUTHORITY") == 0;
    if ((!slashAllowed && text.find('/') != text.npos) || text.find('%') != text.npos ||
        text.find("..") != text.npos) {
      continue;
    }
    env.push_back(std::string(name) + "=" + value);
  }
  return env;
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
