#include "common/FileIO.h"

#include "common/NSCheckerTool.h"
#include "common/RunLock.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>

namespace NSCheckerTool {

namespace {

// The text staged for the next install, and the name it was staged under.
struct Staged {
  std::string name;
  int fd = -1;
};
Staged s_staged;

// Set once a privileged command was refused: the user said no.
bool s_bRefused = false;

void DropStaged() {
  if (s_staged.fd >= 0) {
    ::close(s_staged.fd);  // read-only from here on: nothing to lose
  }
  s_staged = Staged();
}

// Keeps the whole text.
class WholeText : public LineSink {
 public:
  explicit WholeText(std::string& out) : m_out(out) {}
  void Line(std::string_view line) override { m_out.append(line); }
  void Between(std::string_view bytes) override { m_out.append(bytes); }

 private:
  std::string& m_out;
};

bool WriteAll(int fd, const std::string& content) {
  const char* p = content.data();
  std::size_t left = content.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

// Whether the two descriptors, read from their starts, hold the same bytes.
bool SameBytes(int a, int b) {
  constexpr std::size_t kChunk = std::size_t{64} * 1024;
  const std::unique_ptr<char[]> buffers(new char[2 * kChunk]);
  char* const x = buffers.get();
  char* const y = x + kChunk;
  for (off_t at = 0;;) {
    const ssize_t n = ::pread(a, x, kChunk, at);
    if (n < 0) {
      return false;
    }
    ssize_t m = 0;
    while (m < n) {  // the other may hand out less at a time
      const ssize_t got = ::pread(b, y + m, static_cast<std::size_t>(n - m), at + m);
      if (got <= 0) {
        return false;
      }
      m += got;
    }
    if (n == 0) {
      char extra = 0;
      return ::pread(b, &extra, 1, at) == 0;
    }
    if (std::memcmp(x, y, static_cast<std::size_t>(n)) != 0) {
      return false;
    }
    at += n;
  }
}

}  // namespace

ReadResult ReadWholeFile(const std::string& path, std::string& out, struct timespec* stamp) {
  out.clear();
  WholeText whole(out);
  const ReadResult result = ReadFileLines(path, nullptr, whole, kLineBufferSize, stamp);
  if (result != ReadResult::Ok) {
    out.clear();
  }
  return result;
}

ReadResult ReadFileLines(const std::string& path, const std::vector<std::string>* needles,
                         LineSink& sink, std::size_t bufferSize, struct timespec* stamp) {
  const struct timespec began = CoarseNow();
  // O_NONBLOCK keeps a FIFO at the path from stalling the open; it is
  // refused below as not a regular file.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    return errno == ENOENT ? ReadResult::Missing : ReadResult::Failed;
  }
  struct stat st {};
  FdSource source(fd);
  const bool ok =
      ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ReadLines(source, needles, sink, bufferSize);
  ::close(fd);  // read-only: nothing to lose on close
  if (ok && stamp != nullptr) {
    *stamp = ReadStamp(began, st.st_mtim);
  }
  return ok ? ReadResult::Ok : ReadResult::Failed;
}

struct timespec CoarseNow() {
  struct timespec now {};
  (void)::clock_gettime(CLOCK_REALTIME_COARSE, &now);
  return now;
}

struct timespec ReadStamp(const struct timespec& began, const struct timespec& modified) {
  if (modified.tv_sec < began.tv_sec ||
      (modified.tv_sec == began.tv_sec && modified.tv_nsec < began.tv_nsec)) {
    return began;
  }
  struct timespec later = modified;
  if (++later.tv_nsec == 1000000000L) {
    later.tv_nsec = 0;
    ++later.tv_sec;
  }
  return later;
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

int SealedText(const std::string& text, const struct timespec* stamp) {
  const int fd = ::memfd_create("check_hosts_tmp", MFD_CLOEXEC | MFD_ALLOW_SEALING);
  if (fd < 0) {
    return -1;
  }
  struct stat st {};
  const struct timespec times[2] = {{0, UTIME_OMIT}, stamp != nullptr ? *stamp : CoarseNow()};
  const bool whole =
      WriteAll(fd, text) && ::futimens(fd, times) == 0 && ::fstat(fd, &st) == 0 &&
      static_cast<std::size_t>(st.st_size) == text.size() &&
      ::fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL) == 0 &&
      ::lseek(fd, 0, SEEK_SET) == 0;
  if (!whole) {
    ::close(fd);  // never handed out: nothing to lose
    return -1;
  }
  return fd;
}

bool MayRepair() {
  return RunLock::CurrentState() != RunLock::State::Missed && InterruptSignal() == 0 && !s_bRefused;
}

bool StageRepairText(const std::string& name, const std::string& content,
                     const struct timespec* stamp) {
  DropStaged();
  if (!MayRepair()) {
    return false;
  }
  const int fd = SealedText(content, stamp);
  if (fd < 0) {
    return false;
  }
  s_staged = Staged{name, fd};
  return true;
}

bool InstallStagedText(const std::string& name, const std::string& target) {
  if (s_staged.fd < 0 || s_staged.name != name || !MayRepair()) {
    DropStaged();
    return false;
  }
  struct stat st {};
  // Only a target that does not exist at all is created; a dangling link is
  // left to cp, which refuses to write through it.
  const bool missing = ::lstat(target.c_str(), &st) != 0 && errno == ENOENT;
  const int status = RunPrivileged(CopyCommand(target, missing), s_staged.fd);
  // pkexec's own statuses for "not authorised" and "dialog dismissed" (and
  // ours for a pkexec that is not there): asking again would only show the
  // user a prompt they already said no to.
  if (status != -1 && WIFEXITED(status) &&
      (WEXITSTATUS(status) == 126 || WEXITSTATUS(status) == 127)) {
    s_bRefused = true;
  }
  // The report must not say Success for a text that is not there, or not
  // on disk yet. Linux allows fsync on a descriptor opened for reading only.
  bool done = false;
  if (status == 0) {
    const int fd = ::open(target.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd >= 0) {
      struct stat now {};
      done = ::fstat(fd, &now) == 0 && S_ISREG(now.st_mode) && SameBytes(fd, s_staged.fd) &&
             ::fsync(fd) == 0;
      ::close(fd);  // read-only: nothing to lose on close
    }
  }
  DropStaged();
  return done;
}

}  // namespace NSCheckerTool
