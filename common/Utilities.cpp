// The general helpers of NSCheckerTool: paths, files, strings, processes,
// time, the two settable names and the client version file.
#include "common/NSCheckerTool.h"

#include <pugixml.hpp>

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace NSCheckerTool {

namespace {

std::string s_strAppName = "Tolvane";
std::string s_strConfigPath = "Tolvane";

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// Position of the last separator, or npos.
std::size_t LastSeparator(const std::string& path) { return path.find_last_of("/\\"); }

}  // namespace

std::string GetAppDataPath() {
  if (const char* home = std::getenv("HOME")) {
    return std::string(home) + "/.config";
  }
  // No HOME (a service, a stripped environment): ask the password database
  // about the real user rather than building a path relative to nowhere.
  const struct passwd* user = ::getpwuid(::getuid());
  if (user == nullptr || user->pw_dir == nullptr || user->pw_dir[0] == '\0') {
    return std::string();
  }
  return std::string(user->pw_dir) + "/.config";
}

std::string GetManagerDataPath() {
  const std::string base = GetAppDataPath();
  if (base.empty()) {
    return std::string();
  }
  std::string path = base + "/" + GetConfigPath() + "/";
  CreateDir(path, false);
  return path;
}

void CreateDir(const std::string& path, bool isFile) {
  std::string dir = path;
  if (isFile) {
    const std::size_t last = LastSeparator(dir);
    if (last != std::string::npos && last > 0) {
      dir.erase(last);
    }
  }
  if (::access(dir.c_str(), W_OK) == 0) {
    return;
  }
  // mkdir results are not looked at: existing directories are passed over,
  // and one that cannot be made shows in its absence.
  std::string prefix;
  for (char c : dir) {
    if (IsSeparator(c) && !prefix.empty()) {
      ::mkdir(prefix.c_str(), 0775);
    }
    prefix += c;
  }
  ::mkdir(dir.c_str(), 0775);
}

std::string GetCurrentPath() {
  std::string buffer(256, '\0');
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", &buffer[0], buffer.size());
    if (n < 0) {
      return std::string();
    }
    if (static_cast<std::size_t>(n) < buffer.size()) {
      buffer.resize(static_cast<std::size_t>(n));
      return GetPath(buffer);
    }
    buffer.resize(buffer.size() * 2);  // it may have been cut: try a larger buffer
  }
}

std::string GetPath(const std::string& path) {
  const std::size_t last = LastSeparator(path);
  return last == std::string::npos ? path : path.substr(0, last + 1);
}

std::string GetFileName(const std::string& path) {
  const std::size_t last = LastSeparator(path);
  return last == std::string::npos ? path : path.substr(last + 1);
}

std::vector<std::string> ListFiles(const std::string& dir, bool withDirs) {
  std::vector<std::string> names;
  DIR* stream = ::opendir(dir.c_str());
  if (stream == nullptr) {
    return names;
  }
  while (const struct dirent* entry = ::readdir(stream)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") {
      continue;
    }
    if (!withDirs) {
      bool isDir = entry->d_type == DT_DIR;
      if (entry->d_type == DT_UNKNOWN) {
        // Some file systems do not report the type: look it up.
        struct stat st {};
        isDir = ::fstatat(::dirfd(stream), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISDIR(st.st_mode);
      }
      if (isDir) {
        continue;
      }
    }
    names.push_back(name);
  }
  ::closedir(stream);
  return names;
}

bool PathIsExists(const std::string& path) { return ::access(path.c_str(), W_OK) == 0; }

bool FileIsExists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

bool DeleteFile(const std::string& path) { return std::remove(path.c_str()) == 0; }

std::string make_address(const std::string& address, std::uint16_t port) {
  char text[16];
  (void)std::snprintf(text, sizeof text, ":%u", static_cast<unsigned>(port));  // always fits
  return address + text;
}

std::string MakeUserID(const std::string& first, std::uint16_t number, const std::string& second) {
  char text[16];
  (void)std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(number));  // always fits
  return second + "_" + first + "_" + text;
}

std::string toString(const std::string& hex) {
  std::string bytes;
  bytes.reserve(hex.size() / 2);
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    const std::string pair = hex.substr(i, 2);
    unsigned char byte = 0;
    // Exactly what sscanf's %hhx makes of the pair is the contract, partial
    // conversions included; a pair that is no number leaves the byte at 0.
    (void)std::sscanf(pair.c_str(), "%hhx", &byte);  // NOLINT(cert-err34-c)
    bytes += static_cast<char>(byte);
  }
  return bytes;
}

std::string ANSItoUTF8(const std::string& text) { return text; }

std::string UTF8toANSI(const std::string& text) { return text; }

std::string GetIpAddress(const std::string& /*host*/) { return std::string(); }

bool StartProgram(const std::string& path, const std::vector<std::string>& args) {
  // The argument vector is built before fork: the child only calls
  // async-signal-safe functions.
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const std::string& arg : args) {
    argv.push_back(const_cast<char*>(arg.c_str()));
  }
  argv.push_back(nullptr);

  const pid_t child = ::fork();
  if (child < 0) {
    return false;
  }
  if (child == 0) {
    ::execv(path.c_str(), argv.data());
    // _exit, not exit: the parent's unflushed stdio buffers and exit handlers
    // must not run a second time here.
    ::_exit(255);
  }
  return true;
}

void sleep_ms(std::uint32_t ms) {
  struct timespec left {};
  left.tv_sec = static_cast<time_t>(ms / 1000);
  left.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
  while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

std::int64_t GetTimeStamp() {
  struct timespec now {};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void SetAppName(const std::string& name) {
  if (!name.empty()) {
    s_strAppName = name;
  }
}

std::string GetAppName() { return s_strAppName; }

void SetConfigPath(const std::string& name) {
  if (!name.empty()) {
    s_strConfigPath = name;
  }
}

std::string GetConfigPath() { return s_strConfigPath; }

std::string ReadClientVersion(const std::string& path) {
  pugi::xml_document doc;
  // The parser keeps what it read before an error, so a damaged file could
  // still yield a version: only a well-formed one counts.
  if (!doc.load_file(path.c_str(), pugi::parse_default)) {
    return std::string();
  }
  return doc.child("client_version").attribute("version").value();
}

}  // namespace NSCheckerTool
