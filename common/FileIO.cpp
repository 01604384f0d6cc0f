#include "common/FileIO.h"

#include "common/NSCheckerTool.h"
#include "common/Repair.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <utility>

namespace NSCheckerTool {

namespace {

// Reads from a descriptor until a stop signal comes: a stop while a file
// is read ends the reading of it however large, as a failed read. With a
// digest, what it read goes into it too.
class StoppableSource : public FdSource {
 public:
  StoppableSource(int fd, ContentDigest* digest) : FdSource(fd), m_pDigest(digest) {}
  ssize_t Read(char* into, std::size_t size) override {
    if (StopCount() != m_nStops) {
      errno = EINTR;
      return -1;
    }
    const ssize_t n = FdSource::Read(into, size);
    if (n > 0 && m_pDigest != nullptr) {
      m_pDigest->Add(into, static_cast<std::size_t>(n));
    }
    return n;
  }

 private:
  const int m_nStops = StopCount();
  ContentDigest* m_pDigest;
};

// Keeps the whole text.
class WholeText : public LineSink {
 public:
  explicit WholeText(std::string& out) : m_out(out) {}
  void Line(std::string_view line) override { m_out.append(line); }
  void Between(std::string_view bytes) override { m_out.append(bytes); }

 private:
  std::string& m_out;
};

}  // namespace

ReadResult ReadWholeFile(const std::string& path, std::string& out, ReadMark* mark) {
  out.clear();
  WholeText whole(out);
  const ReadResult result = ReadFileLines(path, nullptr, whole, kLineBufferSize, mark);
  if (result != ReadResult::Ok) {
    out.clear();
  }
  return result;
}

ReadResult ReadFileLines(const std::string& path, const std::vector<std::string>* needles,
                         LineSink& sink, std::size_t bufferSize, ReadMark* mark) {
  if (mark != nullptr) {
    *mark = ReadMark{mark->repairReading};
    mark->watched = WatchTarget(path);  // before it is opened: no change is missed
  }
  // O_NONBLOCK keeps a FIFO at the path from stalling the open; it is
  // refused below as not a regular file.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    if (errno == ENOENT) {
      if (mark != nullptr) {
        mark->missing = true;
      }
      return ReadResult::Missing;
    }
    return ReadResult::Failed;
  }
  struct stat st {};
  ContentDigest digest;
  const bool keep = mark != nullptr && mark->repairReading;
  StoppableSource source(fd, keep ? &digest : nullptr);
  const bool ok =
      ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
      ReadLines(source, needles, sink, bufferSize, mark != nullptr ? &mark->longLines : nullptr);
  ::close(fd);  // read-only: nothing to lose on close
  if (ok && mark != nullptr) {
    mark->modified = st.st_mtim;
  }
  if (ok && keep) {
    WatchContent(path, digest);
  }
  return ok ? ReadResult::Ok : ReadResult::Failed;
}

namespace {

// A descriptor closed when it goes out of scope.
class Fd {
 public:
  explicit Fd(int fd = -1) : m_fd(fd) {}
  ~Fd() { Reset(-1); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int Get() const { return m_fd; }
  void Reset(int fd) {
    if (m_fd >= 0) {
      ::close(m_fd);  // a folder or a file looked at, never written
    }
    m_fd = fd;
  }
  int Release() {
    const int fd = m_fd;
    m_fd = -1;
    return fd;
  }

 private:
  int m_fd;
};

// The kernel follows at most this many links in one path.
constexpr int kMaxLinks = 40;

// The rule of fs.protected_symlinks: a link in a sticky, world-writable
// folder is followed only when it is ours or the folder owner's.
bool MayFollow(const struct stat& link, const struct stat& folder) {
  const bool shared = (folder.st_mode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH);
  return !shared || link.st_uid == ::geteuid() || link.st_uid == folder.st_uid;
}

// The rule of fs.protected_regular and fs.protected_fifos at their highest
// level: an existing file or FIFO in a sticky folder that others may write
// to (world or group) is opened only when it is ours or the folder owner's.
bool MayOpenExisting(const struct stat& file, const struct stat& folder) {
  const bool shared =
      (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & (S_IWOTH | S_IWGRP)) != 0;
  return !(S_ISREG(file.st_mode) || S_ISFIFO(file.st_mode)) || !shared ||
         file.st_uid == ::geteuid() || file.st_uid == folder.st_uid;
}

// Puts the parts of text on top of rest, the first part last. A text that
// ends with a slash names a folder: "." stands for it.
void PushParts(const std::string& text, std::vector<std::string>& rest) {
  std::vector<std::string> parts;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t slash = std::min(text.find('/', at), text.size());
    if (slash > at) {
      parts.push_back(text.substr(at, slash - at));
    }
    at = slash + 1;
  }
  if (!text.empty() && text.back() == '/') {
    parts.emplace_back(".");
  }
  rest.insert(rest.end(), parts.rbegin(), parts.rend());
}

// fd, emptied when it is a regular file; -1 (and fd closed) when that fails.
int Emptied(int fd) {
  struct stat st {};
  if (fd >= 0 && (::fstat(fd, &st) != 0 || (S_ISREG(st.st_mode) && ::ftruncate(fd, 0) != 0))) {
    ::close(fd);  // nothing written to it
    return -1;
  }
  return fd;
}

bool OnProc(int folder) {
  struct statfs fs {};
  return ::fstatfs(folder, &fs) == 0 && fs.f_type == PROC_SUPER_MAGIC;
}

// Opens path for the report, walking it part by part from what was opened
// before, never by a name looked at earlier: each link on the way is
// followed only as MayFollow allows, a file that exists only as
// MayOpenExisting allows, whatever the system's own settings. A link in
// /proc (a descriptor of ours, /proc/self) is left to the kernel, which
// goes to what it stands for rather than to its text. -1 when refused or
// when the file cannot be opened at once.
int OpenReportFile(const std::string& path) {
  // O_NONBLOCK: a FIFO without a reader fails the open at once instead of
  // waiting for one, and a pipe or terminal is waited for in WriteReport,
  // where a stop can end the wait.
  const int flags = O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  std::vector<std::string> rest;  // what is still to walk, the next part last
  PushParts(path, rest);
  Fd folder(path.empty() ? -1
                         : ::open(path[0] == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
  for (int links = 0; folder.Get() >= 0 && !rest.empty();) {
    const std::string name = std::move(rest.back());
    rest.pop_back();
    const bool last = rest.empty();
    if (name == "." || name == "..") {  // the kernel's own: ".." of "/" is "/"
      folder.Reset(last ? -1 : ::openat(folder.Get(), name.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
      continue;
    }
    if (!last) {
      const int next = ::openat(folder.Get(), name.c_str(),
                                O_PATH | O_NOFOLLOW | O_DIRECTORY | O_CLOEXEC);
      if (next >= 0 || errno != ENOTDIR) {
        folder.Reset(next);
        continue;
      }
    }
    const Fd node(::openat(folder.Get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (node.Get() < 0) {  // only a missing last part is made, and only anew
      if (!last || errno != ENOENT) {
        return -1;
      }
      if (g_pBeforeReportCreate != nullptr) {
        g_pBeforeReportCreate(folder.Get(), name.c_str());
      }
      return ::openat(folder.Get(), name.c_str(), flags | O_CREAT | O_EXCL | O_NOFOLLOW, 0666);
    }
    struct stat seen {};
    struct stat in {};
    if (::fstat(node.Get(), &seen) != 0 || ::fstat(folder.Get(), &in) != 0) {
      return -1;
    }
    if (S_ISLNK(seen.st_mode)) {
      if (++links > kMaxLinks || !MayFollow(seen, in)) {
        return -1;
      }
      if (OnProc(folder.Get())) {
        if (last) {
          return Emptied(::openat(folder.Get(), name.c_str(), flags));
        }
        folder.Reset(::openat(folder.Get(), name.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        continue;
      }
      std::array<char, PATH_MAX> target{};
      const ssize_t n = ::readlinkat(node.Get(), "", target.data(), target.size());
      if (n <= 0 || static_cast<std::size_t>(n) == target.size()) {
        return -1;
      }
      PushParts(std::string(target.data(), static_cast<std::size_t>(n)), rest);
      if (target[0] == '/') {
        folder.Reset(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
      }
      continue;
    }
    if (!last || !MayOpenExisting(seen, in)) {
      return -1;
    }
    // The very file looked at, or nothing; emptied only once allowed.
    Fd file(::openat(folder.Get(), name.c_str(), flags | O_NOFOLLOW));
    struct stat now {};
    if (file.Get() < 0 || ::fstat(file.Get(), &now) != 0 || now.st_dev != seen.st_dev ||
        now.st_ino != seen.st_ino) {
      return -1;
    }
    return Emptied(file.Release());
  }
  return -1;
}

}  // namespace

void (*g_pBeforeReportCreate)(int folder, const char* name) = nullptr;

bool WriteReport(const std::string& path, const std::string& text) {
  const int fd = OpenReportFile(path);
  if (fd < 0) {
    return false;
  }
  // The stop signals wait while we write, and come only while we wait for
  // the reader: one that comes then ends the writing, none is missed.
  sigset_t stops;
  sigset_t kept;
  sigemptyset(&stops);
  for (const int signal : {SIGINT, SIGQUIT, SIGTERM, SIGHUP}) {
    sigaddset(&stops, signal);
  }
  (void)::sigprocmask(SIG_BLOCK, &stops, &kept);
  const int before = StopCount();
  bool ok = true;
  const char* p = text.data();
  std::size_t left = text.size();
  while (ok && left > 0 && StopCount() == before) {
    const ssize_t n = ::write(fd, p, left);
    if (n >= 0) {
      p += n;
      left -= static_cast<std::size_t>(n);
    } else if (errno == EAGAIN) {
      struct pollfd ready {
        fd, POLLOUT, 0
      };
      ok = ::ppoll(&ready, 1, nullptr, &kept) >= 0 || errno == EINTR;
    } else {
      ok = errno == EINTR;
    }
  }
  ok = ok && left == 0;
  (void)::sigprocmask(SIG_SETMASK, &kept, nullptr);
  // A full disk or a quota may show only when the file is closed.
  if (::close(fd) != 0) {
    ok = false;
  }
  return ok;
}

}  // namespace NSCheckerTool
