#pragma once

#include "common/FileIO.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

// A repair, step by step (common/Repair.cpp, in this order):
//
// 1. Watch. The reading of a file that a repair may replace (ReadFileLines
//    with a ReadMark) first starts a watch on it: from then on until its
//    copy begins, any change to it is seen.
// 2. Stage. The corrected text goes into a sealed memory file, dated just
//    after the file's own time as it was read.
// 3. Run. pkexec copies the staged text into the file. A change seen before
//    the prompt opens means no prompt; one seen while it is open ends it.
//    What someone else wrote is kept.
// 4. Read back. The row says Success only when the file now holds exactly
//    the repaired text, and it is on disk.
namespace NSCheckerTool {

// 1. Starts (or starts anew) the watch on path: the file the name leads to
// (written, closed after writing, moved, removed, a change of size, time,
// mode, owner or group) and its name in its folder (created, moved in or
// out, removed), and through a symbolic link the file's own name too. What
// was seen before is forgotten: the file is about to be read again. False
// when no watch could be set; then no copy into path starts.
bool WatchTarget(const std::string& path);

// Whether path changed since its watch began (true when it is not watched).
bool TargetChanged(const std::string& path);

// A digest of bytes, in the order given and in any pieces: what a file held
// when it was read, to be compared with what it holds later.
class ContentDigest {
 public:
  void Add(const char* bytes, std::size_t size);
  std::uint64_t Value() const;
  std::uint64_t Size() const { return m_nSize; }
  bool operator==(const ContentDigest& other) const {
    return Size() == other.Size() && Value() == other.Value();
  }

 private:
  void Round(const char* stripe);
  std::uint64_t m_lanes[4] = {0x9E3779B185EBCA87ULL, 0xC2B2AE3D27D4EB4FULL, 0x165667B19E3779F9ULL,
                              0x85EBCA77C2B2AE63ULL};
  char m_pending[32] = {};
  std::size_t m_nPending = 0;
  std::uint64_t m_nSize = 0;
};

// Records what path held when it was read whole (its watch must be set):
// while a prompt is open, the file is read again now and then and compared
// with it, for the changes that send no event (a write through a shared
// mapping on tmpfs or overlayfs, another machine's write to a network file
// system).
void WatchContent(const std::string& path, const ContentDigest& read);

// Whether the content of path differs from what WatchContent recorded.
// Reading costs time, so it is read again only once the last reading has
// had kContentCheckShare times its own length to pass; before that (and
// when no content was recorded) the answer is false.
constexpr int kContentCheckShare = 20;
bool ContentChangedSinceRead(const std::string& path);

// 2. The time a text built from a file must carry so that a copy which
// replaces only an older target (cp -u) replaces the file as it was read
// and nothing written to it later: just after the file's own time.
struct timespec StampAfter(const struct timespec& modified);

// A new unnamed memory file (close-on-exec) that holds exactly text and is
// sealed: from then on nobody, not even a process that reaches it through
// /proc, can write, grow or shrink it. With stamp, that is its time of last
// change. -1 when it cannot be made whole.
int SealedText(const std::string& text, const struct timespec* stamp = nullptr);

// Whether a repair may still start a privileged command: not when this
// process wanted the run lock and did not get it, when a stop signal came,
// or when the user refused an earlier repair's authorisation.
bool MayRepair();

// Stages content, built from the file as read (read), as the text that the
// next InstallStagedText for the same name copies: in a sealed memory file,
// never in a file another program can reach. False (and nothing staged)
// when the text cannot be staged whole or MayRepair() says no.
bool StageRepairText(const std::string& name, const std::string& content, const ReadMark& read);

// 3 and 4. Copies the text staged under name into target through pkexec
// (see CopyCommand; it reads the sealed file as its standard input), unless
// the watch saw target change, then reads it back and flushes it to disk.
// True only when target then holds exactly the staged text and is on disk:
// a copy skipped or a prompt ended for a change, or a command that ended 0
// without copying, is no success, unless the change was the same repair.
// The staged text is dropped and the watch ended in any case. A command
// that ends with pkexec's status for a refused or dismissed authorisation
// (126, 127) makes MayRepair() false for the rest of the run.
bool InstallStagedText(const std::string& name, const std::string& target);

// The privileged copy of a repair's text, read from its standard input,
// into target: "pkexec /bin/cp -T -u --no-preserve=mode /dev/stdin
// <target>". Copying into the existing file keeps its owner, mode, ACL,
// extended attributes, inode and mounts; -u copies only onto a target
// older than the staged text, so a change made between the authorisation
// and the copy is kept. A target that did not exist when it was read gets
// -n instead of -u: it is created only if it is still missing, root's with
// mode 0644 (0666 less the command's umask, 022), never a mode taken from
// the staged text.
std::vector<std::string> CopyCommand(const std::string& to, bool targetMissing);

// The environment pkexec is started with, as "NAME=value": PATH=CleanPath()
// and, of the locale and terminal variables that pkexec passes on, those
// whose values it accepts (it refuses to run at all for a "/" (but in
// XAUTHORITY), "%" or ".." in one, or for a SHELL missing from /etc/shells,
// which the copy does not need and does not get).
std::vector<std::string> PkexecEnvironment();

}  // namespace NSCheckerTool
