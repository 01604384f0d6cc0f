#include "common/FileIO.h"

#include "common/RunLock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace NSCheckerTool {

namespace {

// Reads until end of file, starting with room for the size fstat gave and
// growing if the file grows under us.
bool ReadToEnd(int fd, std::size_t expected, std::size_t slack, std::string& out) {
  out.resize(expected + 1 + slack);  // a spare byte shows the end without a second pass
  std::size_t size = 0;
  for (;;) {
    if (size == out.size()) {
      out.resize(out.size() * 2);
    }
    const ssize_t n = ::read(fd, &out[size], out.size() - size);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    if (n == 0) {
      break;
    }
    size += static_cast<std::size_t>(n);
  }
  out.resize(size);
  return true;
}

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

// Creates tmpPath exclusively. O_EXCL with O_CREAT fails on any existing
// entry, a dangling symbolic link included, so nothing planted there is ever
// opened. A leftover entry is unlinked (never followed) and creation tried
// again; in a sticky directory that succeeds only for our own files, or for
// anyone's when we are root.
int CreateExclusive(const std::string& tmpPath) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    int fd = ::open(tmpPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0 || errno != EEXIST) {
      return fd;
    }
    struct stat old {};
    if (::lstat(tmpPath.c_str(), &old) != 0) {
      continue;  // gone meanwhile: try again
    }
    int removed = S_ISDIR(old.st_mode) ? ::rmdir(tmpPath.c_str()) : ::unlink(tmpPath.c_str());
    if (removed != 0 && errno != ENOENT) {
      return -1;
    }
  }
  return -1;
}

}  // namespace

ReadResult ReadWholeFile(const std::string& path, std::string& out, std::size_t slack) {
  out.clear();
  // O_NONBLOCK keeps a FIFO at the path from stalling the open; it is
  // refused below as not a regular file.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    return errno == ENOENT ? ReadResult::Missing : ReadResult::Failed;
  }
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
            ReadToEnd(fd, static_cast<std::size_t>(st.st_size), slack, out);
  ::close(fd);  // read-only: nothing to lose on close
  if (!ok) {
    out.clear();
    return ReadResult::Failed;
  }
  return ReadResult::Ok;
}

bool WriteWholeFile(const std::string& path, const std::string& text) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    return false;
  }
  bool ok = WriteAll(fd, text);
  // A full disk or a quota may show only when the file is closed.
  if (::close(fd) != 0) {
    ok = false;
  }
  return ok;
}

bool WriteRepairFile(const std::string& tmpPath, const std::string& content,
                     const std::string& target) {
  if (RunLock::CurrentState() == RunLock::State::Missed) {
    return false;
  }
  mode_t mode = 0644;
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0) {
    mode = st.st_mode & 0777;
  }
  int fd = CreateExclusive(tmpPath);
  if (fd < 0) {
    return false;
  }
  // fchmod is not subject to the umask, so a umask of 077 cannot leave the
  // replaced system file unreadable to other users.
  bool ok = WriteAll(fd, content) && ::fchmod(fd, mode) == 0;
  if (::close(fd) != 0) {
    ok = false;
  }
  if (!ok) {
    ::unlink(tmpPath.c_str());  // our own file: an incomplete one is never moved
  }
  return ok;
}

}  // namespace NSCheckerTool
