#pragma once

#include "common/LineReader.h"

#include <ctime>
#include <cstddef>
#include <string>
#include <vector>

namespace NSCheckerTool {

enum class ReadResult : int {
  Ok,       // the whole file is in the buffer
  Missing,  // nothing exists at the path
  Failed,   // something exists but could not be read to its end
};

// Reads the regular file at path to its end. Anything that exists but is not
// a regular file (a directory, a FIFO, a device) counts as Failed.
// On anything but Ok, out is empty. With stamp, see ReadStamp.
ReadResult ReadWholeFile(const std::string& path, std::string& out,
                         struct timespec* stamp = nullptr);

// Reads the regular file at path through a line reader (see ReadLines): its
// lines, or those that contain one of the needles, go to sink. Missing and
// Failed as ReadWholeFile tells them; Failed also when the reading fails
// part way, after some lines were handed out.
ReadResult ReadFileLines(const std::string& path, const std::vector<std::string>* needles,
                         LineSink& sink, std::size_t bufferSize = kLineBufferSize,
                         struct timespec* stamp = nullptr);

// The time a text built from a file must carry for a copy that replaces only
// an older target (cp -u) to replace the file as it was read, and nothing
// written to it afterwards: the moment the reading began, as the kernel
// stamps files (its coarse clock), or just after the file's own time when
// that is as late or later.
struct timespec ReadStamp(const struct timespec& began, const struct timespec& modified);
struct timespec CoarseNow();

// Writes the report: creates or truncates path (mode 0666 less the umask)
// and writes text; true only when every byte was written and the file
// closed cleanly. A path that cannot be opened at
// once (a FIFO without a reader) fails at once, and a stop signal that comes
// while it waits (a pipe nobody reads) fails it. The path is walked as the
// kernel walks it with every protection on, whatever the system sets: a
// symbolic link anywhere on it, in a sticky, world-writable directory, is
// followed only when it belongs to us or to the directory's owner
// (fs.protected_symlinks), and a file or FIFO that already exists in a
// sticky directory that others may write to is opened only when it is ours
// or the directory owner's (fs.protected_regular and fs.protected_fifos at
// 2); any other is a report that cannot be written.
bool WriteReport(const std::string& path, const std::string& text);

// A new unnamed memory file (close-on-exec) that holds exactly text and is
// sealed: from then on nobody, not even a process that reaches it through
// /proc, can write, grow or shrink it. With stamp, that is its time of last
// change. -1 when it cannot be made whole.
int SealedText(const std::string& text, const struct timespec* stamp = nullptr);

// Whether a repair may still start a privileged command: not when this
// process wanted the run lock and did not get it, when a stop signal came,
// or when the user refused an earlier repair's authorisation.
bool MayRepair();

// Stages content as the text that the next InstallStagedText for the same
// name copies: in a sealed memory file, never in a file another program
// can reach. With stamp (see ReadStamp), the copy replaces only a target
// that nobody changed since it was read. False (and nothing staged) when the
// text cannot be staged whole or MayRepair() says no.
bool StageRepairText(const std::string& name, const std::string& content,
                     const struct timespec* stamp = nullptr);

// Copies the text staged under name into target through pkexec (see
// CopyCommand; the command reads the sealed file as its standard input),
// then flushes target to disk. True only when the copy succeeded and target,
// read back, holds the staged text and is on disk (a copy that was skipped
// for a target changed meanwhile, or a command that ended 0 without
// copying, is no success). The staged text is dropped in any case. A command that ends
// with pkexec's status for a refused or dismissed authorisation (126, 127)
// makes MayRepair() false for the rest of the run.
bool InstallStagedText(const std::string& name, const std::string& target);

}  // namespace NSCheckerTool
