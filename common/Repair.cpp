// A repair: watch the file, stage the corrected text, run the privileged
// copy, read the file back. See Repair.h for the steps and their promises.
#include "common/Repair.h"

#include "common/NSCheckerTool.h"
#include "common/RunLock.h"
#include "common/Runner.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string_view>
#include <utility>

namespace NSCheckerTool {

// ---- 1. Watch ----

namespace {

// What counts as a change of the file itself: written, moved, removed. Two
// more count only when the file as stat() shows it then differs in what it
// holds or who may change it (see Differs): IN_ATTRIB, which also comes for
// what needs no right to the file (a hard link made to it, its access
// time), and IN_CLOSE_WRITE, which also comes for a file opened for writing
// and closed unwritten (touch -a), and catches a write through a mapping
// once its descriptor is closed (such a write brings no IN_MODIFY).
constexpr std::uint32_t kChangeEvents = IN_MODIFY | IN_MOVE_SELF | IN_DELETE_SELF;
constexpr std::uint32_t kFileEvents = kChangeEvents | IN_ATTRIB | IN_CLOSE_WRITE;
// What counts in its folder, for its name only: another file there, or
// none, takes the name.
constexpr std::uint32_t kNameEvents = IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE;

struct Watch {
  int fileWd = -1;  // the file, when there was one
  std::vector<std::pair<int, std::string>> names;  // a folder and the name in it
  bool existed = false;  // what the file was when the watch began
  struct stat seen {};
  bool changed = false;
  bool writing = false;  // written to, and not yet closed after writing
  // What it held when it was read, and when to read it again.
  bool hasContent = false;
  ContentDigest content;
  std::int64_t nextContentCheckMs = 0;
};

int s_nInotify = -1;
std::map<std::string, Watch> s_watches;

// Whether path now leads to another file than when the watch began, or to
// one where there was none: a link on the way pointed elsewhere, a folder
// on the way replaced, a file mounted over it. No event tells of those.
bool LeadsElsewhere(const std::string& path, const Watch& watch) {
  struct stat now {};
  if (::stat(path.c_str(), &now) != 0) {
    return watch.existed;
  }
  return !watch.existed || now.st_dev != watch.seen.st_dev || now.st_ino != watch.seen.st_ino;
}

bool Differs(const std::string& path, const Watch& watch) {
  struct stat now {};
  if (::stat(path.c_str(), &now) != 0) {
    return true;
  }
  const struct stat& was = watch.seen;
  return !watch.existed || now.st_dev != was.st_dev || now.st_ino != was.st_ino ||
         now.st_size != was.st_size || now.st_mtim.tv_sec != was.st_mtim.tv_sec ||
         now.st_mtim.tv_nsec != was.st_mtim.tv_nsec || now.st_mode != was.st_mode ||
         now.st_uid != was.st_uid || now.st_gid != was.st_gid;
}

// One event: name is the file name it carries in a folder (or none).
// Whether it concerned a watched file at all (its own event, or one for
// its name) rather than another file in the same folder.
bool Note(const struct inotify_event& event, std::string_view name) {
  bool concerned = false;
  for (auto& [path, watch] : s_watches) {
    bool its = false;
    bool change = false;
    if ((event.mask & IN_Q_OVERFLOW) != 0) {
      its = change = true;  // events were lost: any of them may have been its
    } else if (event.wd == watch.fileWd) {
      its = true;
      if ((event.mask & (IN_MODIFY | IN_CLOSE_WRITE)) != 0) {
        watch.writing = (event.mask & IN_CLOSE_WRITE) == 0;
      }
      change = (event.mask & kChangeEvents) != 0 ||
               ((event.mask & (IN_ATTRIB | IN_CLOSE_WRITE)) != 0 && Differs(path, watch));
    } else {
      for (const auto& [folder, own] : watch.names) {
        its = its || (event.wd == folder && own == name);
      }
      change = its;
    }
    watch.changed = watch.changed || change;
    concerned = concerned || its;
  }
  return concerned;
}

// Takes every event that has come so far; whether any concerned a watched
// file.
bool TakeEvents() {
  bool concerned = false;
  alignas(struct inotify_event) char buffer[8192];
  for (;;) {
    const ssize_t n = ::read(s_nInotify, buffer, sizeof buffer);
    if (n <= 0) {
      return concerned;  // none left (EAGAIN), or nothing to read from
    }
    for (const char* p = buffer; p < buffer + n;) {
      struct inotify_event event {};
      std::memcpy(&event, p, sizeof event);
      // The name follows the fixed part, padded with NULs.
      const char* const named = p + sizeof event;
      concerned = Note(event, event.len > 0 ? std::string_view(named, ::strnlen(named, event.len))
                                            : std::string_view()) ||
                  concerned;
      p += sizeof event + event.len;
    }
  }
}

// The folder of path and the name in it.
std::pair<std::string, std::string> FolderAndName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    return {".", path};
  }
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

bool WatchName(const std::string& path, Watch& watch) {
  auto [folder, name] = FolderAndName(path);
  const int wd = ::inotify_add_watch(s_nInotify, folder.c_str(), kNameEvents | IN_ONLYDIR);
  if (wd < 0 || name.empty()) {
    return false;
  }
  watch.names.emplace_back(wd, std::move(name));
  return true;
}

}  // namespace

bool WatchTarget(const std::string& path) {
  if (s_nInotify < 0) {
    s_nInotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (s_nInotify < 0) {
      return false;
    }
  }
  (void)TakeEvents();  // what came so far belongs to the watches as they were
  Watch watch;
  bool ok = WatchName(path, watch);
  // The file the name leads to, and through a link its own name as well.
  char resolved[PATH_MAX];
  if (ok && ::realpath(path.c_str(), resolved) != nullptr && path != resolved) {
    ok = WatchName(resolved, watch);
  }
  watch.fileWd = ::inotify_add_watch(s_nInotify, path.c_str(), kFileEvents);
  if (watch.fileWd >= 0) {
    watch.existed = ::stat(path.c_str(), &watch.seen) == 0;
    ok = ok && watch.existed;
  } else {
    ok = ok && errno == ENOENT;  // a missing file: its name is watched
  }
  if (!ok) {
    s_watches.erase(path);
    return false;
  }
  s_watches[path] = std::move(watch);
  return true;
}

bool TargetChanged(const std::string& path) {
  const auto found = s_watches.find(path);
  if (found == s_watches.end()) {
    return true;
  }
  (void)TakeEvents();
  Watch& watch = found->second;
  watch.changed = watch.changed || LeadsElsewhere(path, watch);
  return watch.changed;
}

namespace {

// Four lanes of multiply and rotate over 32-byte stripes, folded together
// at the end: a few cycles a stripe, so that reading a large file again
// costs about what reading it costs.
constexpr std::uint64_t kPrime1 = 0x9E3779B185EBCA87ULL;
constexpr std::uint64_t kPrime2 = 0xC2B2AE3D27D4EB4FULL;

std::uint64_t Rotl(std::uint64_t x, int r) { return (x << r) | (x >> (64 - r)); }

std::uint64_t Mix(std::uint64_t lane, std::uint64_t word) {
  return Rotl(lane + word * kPrime2, 31) * kPrime1;
}

// What path holds now: false when it cannot be read whole (a stop came,
// or it is no regular file we may read).
bool ReadDigest(const std::string& path, ContentDigest& digest) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (fd >= 0) {
      ::close(fd);  // read-only: nothing to lose
    }
    return false;
  }
  const std::unique_ptr<char[]> buffer(new char[kLineBufferSize]);
  const int stops = StopCount();
  ssize_t n = 0;
  while ((n = ::read(fd, buffer.get(), kLineBufferSize)) > 0 && !StopCameSince(stops)) {
    digest.Add(buffer.get(), static_cast<std::size_t>(n));
  }
  ::close(fd);  // read-only: nothing to lose
  return n == 0;
}

}  // namespace

void ContentDigest::Round(const char* stripe) {
  for (std::uint64_t& lane : m_lanes) {
    std::uint64_t word = 0;
    std::memcpy(&word, stripe, sizeof word);
    lane = Mix(lane, word);
    stripe += sizeof word;
  }
}

void ContentDigest::Add(const char* bytes, std::size_t size) {
  m_nSize += size;
  if (m_nPending > 0) {
    const std::size_t take = std::min(sizeof m_pending - m_nPending, size);
    std::memcpy(m_pending + m_nPending, bytes, take);
    m_nPending += take;
    bytes += take;
    size -= take;
    if (m_nPending < sizeof m_pending) {
      return;
    }
    Round(m_pending);
    m_nPending = 0;
  }
  for (; size >= sizeof m_pending; bytes += sizeof m_pending, size -= sizeof m_pending) {
    Round(bytes);
  }
  std::memcpy(m_pending, bytes, size);
  m_nPending = size;
}

std::uint64_t ContentDigest::Value() const {
  std::uint64_t h = m_nSize * kPrime1;
  for (const std::uint64_t lane : m_lanes) {
    h = (h ^ Mix(0, lane)) * kPrime1 + kPrime2;
  }
  for (std::size_t i = 0; i < m_nPending; ++i) {
    h = Rotl(h ^ (static_cast<unsigned char>(m_pending[i]) * kPrime1), 11) * kPrime2;
  }
  h ^= h >> 33;
  h *= kPrime2;
  h ^= h >> 29;
  h *= kPrime1;
  return h ^ (h >> 32);
}

void WatchContent(const std::string& path, const ContentDigest& read) {
  const auto found = s_watches.find(path);
  if (found != s_watches.end()) {
    found->second.hasContent = true;
    found->second.content = read;
    found->second.nextContentCheckMs = 0;
  }
}

bool ContentChangedSinceRead(const std::string& path) {
  const auto found = s_watches.find(path);
  if (found == s_watches.end() || !found->second.hasContent) {
    return false;
  }
  Watch& watch = found->second;
  const std::int64_t start = GetTimeStamp();
  if (start < watch.nextContentCheckMs) {
    return false;
  }
  ContentDigest now;
  const bool read = ReadDigest(path, now);
  const std::int64_t took = GetTimeStamp() - start;
  watch.nextContentCheckMs = start + std::max<std::int64_t>(kWatchRecheckMs, kContentCheckShare * took);
  // A file we can no longer read whole has changed too (its mode, or what
  // it is), unless a stop cut the reading short.
  watch.changed = watch.changed || (read ? !(now == watch.content) : !StopCameSince(StopCount()));
  return watch.changed;
}

// ---- 2. Stage ----

namespace {

// The text staged for the next install, the name it was staged under, and
// whether its target was missing when it was read.
struct Staged {
  std::string name;
  int fd = -1;
  bool missing = false;
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

bool WriteAll(int fd, const std::string& content) {
  const char* p = content.data();
  std::size_t left = content.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;  // a full memory, or a file size limit (EFBIG)
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

struct timespec StampAfter(const struct timespec& modified) {
  struct timespec later = modified;
  if (++later.tv_nsec == 1000000000L) {
    later.tv_nsec = 0;
    ++later.tv_sec;
  }
  return later;
}

int SealedText(const std::string& text, const struct timespec* stamp) {
  const int fd = ::memfd_create("check_hosts_tmp", MFD_CLOEXEC | MFD_ALLOW_SEALING);
  if (fd < 0) {
    return -1;
  }
  struct stat st {};
  const struct timespec times[2] = {{0, UTIME_OMIT},
                                    stamp != nullptr ? *stamp : timespec{0, UTIME_OMIT}};
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

bool StageRepairText(const std::string& name, const std::string& content, const ReadMark& read) {
  DropStaged();
  if (!MayRepair()) {
    return false;
  }
  const struct timespec stamp = StampAfter(read.modified);
  const int fd = SealedText(content, read.missing ? nullptr : &stamp);
  if (fd < 0) {
    return false;
  }
  s_staged = Staged{name, fd, read.missing};
  return true;
}

// ---- 3. Run ----

std::vector<std::string> CopyCommand(const std::string& to, bool targetMissing) {
  // The programs by their absolute paths: pkexec would look a bare name up
  // in the caller's PATH, and a "cp" planted there would then run as root.
  // -T: a target that has become a directory fails the copy instead of
  // receiving the text as a file inside it.
  return {"pkexec", "/bin/cp", "-T", targetMissing ? "-n" : "-u", "--no-preserve=mode",
          "/dev/stdin", to};
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

namespace {

// pkexec with args, as the one child of a repair, reading input, and ended
// (while it still asks) as soon as the watch sees target change.
int RunPrivileged(const std::vector<std::string>& args, int input, const std::string& target) {
  Command command;
  // An empty or relative element of PATH would have pkexec looked for in
  // the working directory, where anyone who can write there could plant one.
  const std::string path = CleanPath();
  for (std::size_t begin = 0; begin <= path.size();) {
    std::size_t end = path.find(':', begin);
    end = end == std::string::npos ? path.size() : end;
    command.files.push_back(path.substr(begin, end - begin) + "/" + args.at(0));
    begin = end + 1;
  }
  command.args = args;
  command.env = PkexecEnvironment();
  command.input = input;
  command.privileged = true;
  command.watchFd = s_nInotify;
  command.watchSaysEnd = [&target] {
    return TargetChanged(target) || ContentChangedSinceRead(target);
  };
  return Run(command);
}

// ---- 4. Read back ----

// Whether a watched file was written to and not yet closed after it.
bool BeingWritten() {
  for (const auto& [path, watch] : s_watches) {
    if (watch.writing) {
      return true;
    }
  }
  return false;
}

// Waits until the watched files have had no event for a moment by the
// clock and none is held open after a write (a writer that was seen to
// start has finished, however long it paused), a second at most; events
// for other files in their folders do not count. A stop ends the wait.
void LetChangesSettle() {
  constexpr std::int64_t kQuietMs = 200;
  constexpr std::int64_t kMostMs = 1000;
  const std::int64_t start = GetTimeStamp();
  std::int64_t lastEvent = start;
  while (InterruptSignal() == 0) {
    const std::int64_t now = GetTimeStamp();
    const std::int64_t quietUntil = BeingWritten() ? start + kMostMs : lastEvent + kQuietMs;
    const std::int64_t left = std::min(quietUntil, start + kMostMs) - now;
    if (left <= 0) {
      return;
    }
    struct pollfd events {
      s_nInotify, POLLIN, 0
    };
    const int ready = ::poll(&events, 1, static_cast<int>(left));
    if (ready < 0 && errno != EINTR) {
      return;  // nothing to wait on
    }
    if (ready > 0 && TakeEvents()) {
      lastEvent = GetTimeStamp();
    }
  }
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

// Whether target holds exactly the text of staged, flushed to disk. Linux
// allows fsync on a descriptor opened for reading only; O_NONBLOCK keeps a
// FIFO put there from stalling the open.
bool HoldsText(const std::string& target, int staged) {
  const int fd = ::open(target.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    return false;
  }
  struct stat now {};
  const bool same = ::fstat(fd, &now) == 0 && S_ISREG(now.st_mode) && SameBytes(fd, staged) &&
                    ::fsync(fd) == 0;
  ::close(fd);  // read-only: nothing to lose on close
  return same;
}

}  // namespace

bool InstallStagedText(const std::string& name, const std::string& target) {
  const Staged staged = std::exchange(s_staged, Staged());
  bool done = false;
  if (staged.fd >= 0 && staged.name == name && MayRepair()) {
    // Changed since it was read: no prompt; while the prompt is open: the
    // prompt ends. Either way the change stays, and the file decides.
    int status = -1;
    if (!TargetChanged(target)) {
      status = RunPrivileged(CopyCommand(target, staged.missing), staged.fd, target);
    }
    // Unless our copy ended well, a change seen is someone else's: read
    // the file once that change is done, not half way.
    const bool changed = status != 0 && TargetChanged(target);
    if (changed) {
      LetChangesSettle();
    }
    // pkexec's own statuses for "not authorised" and "dialog dismissed"
    // (and ours for a pkexec that is not there): asking again would only
    // show the user a prompt they already said no to.
    if (status != -1 && WIFEXITED(status) &&
        (WEXITSTATUS(status) == 126 || WEXITSTATUS(status) == 127)) {
      s_bRefused = true;
    }
    // The report must not say Success for a text that is not there, or not
    // on disk yet; a change made meanwhile may be the same repair.
    done = (status == 0 || changed) && s_watches.count(target) != 0 &&
           HoldsText(target, staged.fd);
  }
  s_watches.erase(target);  // what comes now is the copy's own
  if (staged.fd >= 0) {
    ::close(staged.fd);  // read-only: nothing to lose
  }
  return done;
}

}  // namespace NSCheckerTool
