#include "common/FileIO.h"

#include "common/NSCheckerTool.h"
#include "common/Repair.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstring>

namespace NSCheckerTool {

namespace {

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
    *mark = ReadMark();
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
  FdSource source(fd);
  const bool ok =
      ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ReadLines(source, needles, sink, bufferSize);
  ::close(fd);  // read-only: nothing to lose on close
  if (ok && mark != nullptr) {
    mark->modified = st.st_mtim;
  }
  return ok ? ReadResult::Ok : ReadResult::Failed;
}

namespace {

// The rule of fs.protected_symlinks for the link at path: not followed in a
// sticky, world-writable directory unless it is ours or the directory
// owner's.
bool LinkMayBeFollowed(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string dir =
      slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  struct stat link {};
  struct stat parent {};
  if (::lstat(path.c_str(), &link) != 0 || ::stat(dir.c_str(), &parent) != 0) {
    return false;
  }
  const bool shared = (parent.st_mode & S_ISVTX) != 0 && (parent.st_mode & S_IWOTH) != 0;
  return !shared || link.st_uid == ::geteuid() || link.st_uid == parent.st_uid;
}

}  // namespace

bool WriteReport(const std::string& path, const std::string& text) {
  // O_NONBLOCK: a FIFO without a reader fails the open at once instead of
  // waiting for one, and a pipe or terminal is waited for below, where a
  // stop can end the wait.
  const int flags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  int fd = ::open(path.c_str(), flags | O_NOFOLLOW, 0666);
  if (fd < 0 && errno == ELOOP && LinkMayBeFollowed(path)) {
    fd = ::open(path.c_str(), flags, 0666);
  }
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
