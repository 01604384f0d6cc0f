#include "common/FileIO.h"

#include "common/NSCheckerTool.h"
#include "common/RunLock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace NSCheckerTool {

namespace {

// The repair file this process created last, so that only that file is ever
// removed from the shared temporary directory.
struct RepairFile {
  std::string path;
  dev_t dev = 0;
  ino_t ino = 0;
};
RepairFile s_repairFile;

// Removes the repair file at path if it is still the one we created.
void RemoveRepairFile(const std::string& path) {
  struct stat st {};
  if (s_repairFile.path == path && ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
      st.st_dev == s_repairFile.dev && st.st_ino == s_repairFile.ino) {
    ::unlink(path.c_str());  // a failure leaves a file only we and root may touch
  }
  s_repairFile = RepairFile();
}

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
  if (RunLock::CurrentState() == RunLock::State::Missed || InterruptSignal() != 0) {
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
  struct stat made {};
  // fchmod is not subject to the umask, so a umask of 077 cannot leave a
  // hosts file created from it unreadable to other users.
  bool ok = ::fstat(fd, &made) == 0 && WriteAll(fd, content) && ::fchmod(fd, mode) == 0;
  if (::close(fd) != 0) {
    ok = false;
  }
  if (!ok) {
    ::unlink(tmpPath.c_str());  // our own file: an incomplete one is never copied
    return false;
  }
  s_repairFile = RepairFile{tmpPath, made.st_dev, made.st_ino};
  return true;
}

bool InstallRepairFile(const std::string& tmpPath, const std::string& target) {
  struct stat st {};
  // Only a target that does not exist at all is created; a dangling link is
  // left to cp, which refuses to write through it.
  const bool missing = ::lstat(target.c_str(), &st) != 0 && errno == ENOENT;
  const bool copied = System(CopyCommand(tmpPath, target, missing)) == 0;
  // Whatever the outcome: a leftover in the sticky /tmp would make every
  // other user's repair fail until /tmp is cleaned.
  RemoveRepairFile(tmpPath);
  if (!copied) {
    return false;
  }
  // The report must not say Success for a text that is not on disk yet.
  // Linux allows fsync on a descriptor opened for reading only.
  int fd = ::open(target.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    return false;
  }
  const bool synced = ::fsync(fd) == 0;
  ::close(fd);  // read-only: nothing to lose on close
  return synced;
}

}  // namespace NSCheckerTool
