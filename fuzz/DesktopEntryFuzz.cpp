// Reading and rebuilding a desktop entry from arbitrary text. Properties: the
// rebuilt entry differs from the text only on lines that begin with "Exec"
// (which carry the configured command) and in a final newline, with the line
// added when there was none; the found command is the last such line's; the
// rebuilt entry is stable.
#include "checkers/LinuxAssociatedSetupChecker.h"

#include "fuzz/FuzzSupport.h"

#include <cstdint>

using fuzzsupport::Lines;
using fuzzsupport::Require;

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
  const std::vector<std::string> out = Lines(rebuilt);
  Require(out.size() == in.size() + (hasExec ? 0 : 1), "one line for each line");
  std::string last;
  bool seen = false;
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (in[i].compare(0, 4, "Exec") == 0 && in[i].size() >= 4) {
      Require(out[i] == "Exec=" + exec, "an Exec line carries the command");
      last = in[i].size() > 5 ? in[i].substr(5) : std::string();
      seen = true;
    } else {
      Require(out[i] == in[i], "any other line is kept");
    }
  }
  Require(seen == hasExec, "an Exec line is found when there is one");
  if (hasExec) {
    Require(found == last, "the found command is the last Exec line's");
  } else {
    Require(found == "untouched", "no command is found without an Exec line");
    Require(out.back() == "Exec=" + exec, "the missing line is added last");
  }

  std::string again;
  std::string foundAgain;
  Require(LinuxAssociatedSetupChecker::RebuildEntry(rebuilt, exec, foundAgain, again),
          "the rebuilt entry has an Exec line");
  Require(again == rebuilt && foundAgain == exec, "the rebuilt entry is stable");
  return 0;
}
