#include "common/FileIO.h"

#include "common/NSCheckerTool.h"
#include "common/RunLock.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

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

}  // namespace

ReadResult ReadWholeFile(const std::string& path, std::string& out) {
  out.clear();
  WholeText whole(out);
  const ReadResult result = ReadFileLines(path, nullptr, whole);
  if (result != ReadResult::Ok) {
    out.clear();
  }
  return result;
}

ReadResult ReadFileLines(const std::string& path, const std::vector<std::string>* needles,
                         LineSink& sink, std::size_t bufferSize) {
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
  return ok ? ReadResult::Ok : ReadResult::Failed;
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

int SealedText(const std::string& text) {
  const int fd = ::memfd_create("check_hosts_tmp", MFD_CLOEXEC | MFD_ALLOW_SEALING);
  if (fd < 0) {
    return -1;
  }
  struct stat st {};
  const bool whole =
      WriteAll(fd, text) && ::fstat(fd, &st) == 0 &&
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

bool StageRepairText(const std::string& name, const std::string& content) {
  DropStaged();
  if (!MayRepair()) {
    return false;
  }
  const int fd = SealedText(content);
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
  const int status = System(CopyCommand(target, missing), s_staged.fd);
  DropStaged();
  // pkexec's own statuses for "not authorised" and "dialog dismissed" (and
  // the shell's for a pkexec that is not there): asking again would only
  // show the user a prompt they already said no to.
  if (status != -1 && WIFEXITED(status) &&
      (WEXITSTATUS(status) == 126 || WEXITSTATUS(status) == 127)) {
    s_bRefused = true;
  }
  if (status != 0) {
    return false;
  }
  // The report must not say Success for a text that is not on disk yet.
  // Linux allows fsync on a descriptor opened for reading only.
  const int fd = ::open(target.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    return false;
  }
  const bool synced = ::fsync(fd) == 0;
  ::close(fd);  // read-only: nothing to lose on close
  return synced;
}

}  // namespace NSCheckerTool
