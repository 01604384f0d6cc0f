// Reading and rebuilding a desktop entry from arbitrary text, judged by a
// reading of its own of how the desktop (GLib) reads the file. Properties:
// the rebuilt entry differs from the text only on the Exec lines of the main
// group ("[Desktop Entry]"), which carry the configured command, and in a
// final newline; without such a line, one is added right after the main
// group's last key line (after its header when it has none; at the end when
// there is no main group); the found command is the last Exec line's; the
// rebuilt entry is stable.
#include "checkers/LinuxAssociatedSetupChecker.h"

#include "fuzz/FuzzSupport.h"

#include <algorithm>
#include <cstdint>

using fuzzsupport::Lines;
using fuzzsupport::Require;

namespace {

bool Blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string Stripped(const std::string& s) {
  std::size_t begin = 0;
  std::size_t end = s.size();
  while (begin < end && Blank(s[begin])) {
    ++begin;
  }
  while (end > begin && Blank(s[end - 1])) {
    --end;
  }
  return s.substr(begin, end - begin);
}

struct EntryLine {
  bool header = false;
  bool mainGroup = false;  // a line within the main group (its header included)
  bool key = false;        // neither blank nor a comment
  bool exec = false;
  std::string command;
};

// The lines as the desktop reads them.
std::vector<EntryLine> Read(const std::vector<std::string>& lines) {
  std::vector<EntryLine> read;
  bool inMain = false;
  for (std::string line : lines) {
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    EntryLine entry;
    const std::string lead =
        line.substr(std::min(line.size(), line.find_first_not_of(" \t\n\v\f\r")));
    if (!lead.empty() && lead[0] == '[') {
      inMain = Stripped(line) == "[Desktop Entry]";
      entry.header = true;
    } else if (!lead.empty() && lead[0] != '#') {
      entry.key = true;
      if (inMain && lead.compare(0, 4, "Exec") == 0) {
        std::size_t at = 4;
        while (at < lead.size() && (lead[at] == ' ' || lead[at] == '\t')) {
          ++at;
        }
        if (at == lead.size()) {
          entry.exec = true;
        } else if (lead[at] == '=') {
          entry.exec = true;
          ++at;
          while (at < lead.size() && Blank(lead[at])) {
            ++at;
          }
          entry.command = lead.substr(at);
        }
      }
    }
    entry.mainGroup = inMain;
    read.push_back(entry);
  }
  return read;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  static const std::string kCommands[] = {"tolvane %u", "", "a b\tc \xe4\xb8\xad"};
  const std::string& exec = kCommands[data[0] % 3];
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);

  std::string found = "untouched";
  std::string rebuilt;
  const bool hasExec = LinuxAssociatedSetupChecker::RebuildEntry(text, exec, found, rebuilt);
  Require(!rebuilt.empty() && rebuilt.back() == '\n', "the entry ends with a newline");

  const std::vector<std::string> in = Lines(text);
  const std::vector<EntryLine> read = Read(in);
  const std::vector<std::string> out = Lines(rebuilt);
  Require(out.size() == in.size() + (hasExec ? 0 : 1), "one line for each line");

  bool seen = false;
  std::string last;
  // Where a missing Exec line belongs: after the main group's last key line,
  // or after its first header; at the end without a main group.
  std::size_t insertAt = in.size();
  bool keyed = false;
  bool headed = false;
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (read[i].exec && read[i].mainGroup) {
      seen = true;
      last = read[i].command;
    }
    if (read[i].mainGroup && read[i].key) {
      insertAt = i + 1;
      keyed = true;
    } else if (read[i].mainGroup && read[i].header && !keyed && !headed) {
      insertAt = i + 1;
      headed = true;
    }
  }
  Require(seen == hasExec, "an Exec line of the main group is found when there is one");
  for (std::size_t i = 0, j = 0; i < in.size(); ++i, ++j) {
    if (!hasExec && i == insertAt) {
      Require(out[j] == "Exec=" + exec, "the missing line goes into the main group");
      ++j;
    }
    if (read[i].exec && read[i].mainGroup) {
      Require(out[j] == "Exec=" + exec, "a main Exec line carries the command");
    } else {
      Require(out[j] == in[i], "any other line is kept");
    }
  }
  if (hasExec) {
    Require(found == last, "the found command is the last Exec line's");
  } else {
    Require(found == "untouched", "no command is found without an Exec line");
    if (!headed && !keyed) {
      Require(out.back() == "Exec=" + exec, "without a main group the line is added last");
    }
  }

  std::string again;
  std::string foundAgain;
  const bool hasExecAgain =
      LinuxAssociatedSetupChecker::RebuildEntry(rebuilt, exec, foundAgain, again);
  if (hasExecAgain) {
    Require(again == rebuilt && foundAgain == exec, "the rebuilt entry is stable");
  } else {
    // Only a line without a main group can be added outside of one.
    Require(!headed && !keyed, "the added line is read as the main group's");
  }
  return 0;
}
