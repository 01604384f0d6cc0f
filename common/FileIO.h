#pragma once

#include <cstddef>
#include <string>

namespace NSCheckerTool {

enum class ReadResult : int {
  Ok,       // the whole file is in the buffer
  Missing,  // nothing exists at the path
  Failed,   // something exists but could not be read to its end
};

// Reads the regular file at path to its end. Anything that exists but is not
// a regular file (a directory, a FIFO, a device) counts as Failed.
// On anything but Ok, out is empty. With slack, out has room for that many
// more bytes, so that small edits need no second buffer.
ReadResult ReadWholeFile(const std::string& path, std::string& out, std::size_t slack = 0);

// Creates or truncates path (mode 0666 less the umask) and writes text; true
// only when every byte was written and the file closed cleanly.
bool WriteWholeFile(const std::string& path, const std::string& text);

// Writes the file that a repair then copies into target. The file is created
// afresh at tmpPath: never through a symbolic link and never into an entry
// that this call did not create; whatever stands at tmpPath already is
// removed first where the process may do so, otherwise the call fails. The
// file gets the permission bits of target (0644 when target is missing),
// whatever the umask. Answers true only when every byte was written and the
// file closed cleanly; an incomplete file is removed. Refuses outright when
// this process wanted the run lock and did not get it, or when the user
// interrupted an earlier repair.
bool WriteRepairFile(const std::string& tmpPath, const std::string& content,
                     const std::string& target);

// Copies the file that WriteRepairFile wrote at tmpPath into target through
// pkexec, then removes it (only if it is still the file that call created)
// and flushes target to disk. True only when the copy succeeded and target
// is on disk.
bool InstallRepairFile(const std::string& tmpPath, const std::string& target);

}  // namespace NSCheckerTool
