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

// What a reading saw of a file that a repair may replace.
struct ReadMark {
  // Asked by the caller: what is read is what a repair is built from, so
  // its digest is kept for the watch to compare the file with while a
  // prompt is open (see WatchContent). A check that only judges the file
  // skips the cost.
  bool repairReading = false;
  bool watched = false;  // its watch was set before it was opened (see WatchTarget)
  bool missing = false;  // nothing was at the path
  struct timespec modified {};  // its time of last change, when it was there
  std::size_t longLines = 0;    // lines that filled the reader's buffer (see ReadLines)
};

// Reads the regular file at path to its end. Anything that exists but is not
// a regular file (a directory, a FIFO, a device) counts as Failed.
// On anything but Ok, out is empty. With mark, the file is one a repair may
// replace: it is watched from before it is opened, and mark says what was
// read.
ReadResult ReadWholeFile(const std::string& path, std::string& out, ReadMark* mark = nullptr);

// Reads the regular file at path through a line reader (see ReadLines): its
// lines, or those that contain one of the needles, go to sink. Missing and
// Failed as ReadWholeFile tells them; Failed also when the reading fails
// part way, after some lines were handed out.
ReadResult ReadFileLines(const std::string& path, const std::vector<std::string>* needles,
                         LineSink& sink, std::size_t bufferSize = kLineBufferSize,
                         ReadMark* mark = nullptr);

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
// When set, called with the folder and the name of a report file that the
// walk found missing, just before it is created there (tests make a file
// appear at that moment).
extern void (*g_pBeforeReportCreate)(int folder, const char* name);

}  // namespace NSCheckerTool
