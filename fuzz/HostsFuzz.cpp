// The hosts check on arbitrary file content. Properties: the corrected text
// ends with a newline; every line that names no expected domain is kept byte
// for byte and in order; there is exactly one entry line per expected domain
// and it is the canonical one; checking the corrected text again finds
// nothing to do; both ways of walking the lines agree.
#include "checkers/LinuxHostsChecker.h"

#include "fuzz/FuzzSupport.h"

#include <cstdint>
#include <map>

using fuzzsupport::Lines;
using fuzzsupport::Require;

namespace {

class FuzzHosts : public LinuxHostsChecker {
 public:
  explicit FuzzHosts(const std::map<std::string, std::string>& hosts) { m_mapHosts = hosts; }
  using HostsChecker::BuildContent;
  const std::string& Content() const { return m_strHostsContent; }
};

const std::map<std::string, std::string> kExpectations[] = {
    {{"local.tolvane.com", "127.0.0.1"}},
    {{"local.tolvane.com", "fd00:1234:5678:9abc:def0:1234:5678:9abc"}},
    {{"a", "10.0.0.1"}, {"localhost", "127.0.0.1"}, {"local.tolvane.com", "127.0.0.1"}},
};

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The second token of a line that is neither blank nor a comment, or "".
std::string NameOf(const std::string& line) {
  std::size_t i = 0;
  while (i < line.size() && IsSpace(line[i])) {
    ++i;
  }
  if (i == line.size() || line[i] == '#') {
    return std::string();
  }
  while (i < line.size() && !IsSpace(line[i])) {
    ++i;
  }
  while (i < line.size() && IsSpace(line[i])) {
    ++i;
  }
  std::size_t end = i;
  while (end < line.size() && !IsSpace(line[end])) {
    ++end;
  }
  return line.substr(i, end - i);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  const auto& hosts = kExpectations[data[0] % 3];
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);

  FuzzHosts scanning(hosts);
  FuzzHosts walking(hosts);
  const bool changed = scanning.BuildContent(std::string(text), true);
  Require(changed == walking.BuildContent(std::string(text), false),
          "both walks agree on the code");
  const std::string& out = scanning.Content();
  Require(out == walking.Content(), "both walks give the same text");
  Require(out.empty() || out.back() == '\n', "the text ends with a newline");

  const std::vector<std::string> in = Lines(text);
  const std::vector<std::string> lines = Lines(out);
  Require(lines.size() >= in.size(), "no line is lost");
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (hosts.count(NameOf(in[i])) == 0) {
      Require(lines[i] == in[i], "a line naming no expected domain is kept");
    }
  }
  for (std::size_t i = in.size(); i < lines.size(); ++i) {
    Require(hosts.count(NameOf(lines[i])) == 1, "only missing entries are appended");
  }
  for (const auto& entry : hosts) {
    int count = 0;
    for (const std::string& line : lines) {
      if (NameOf(line) == entry.first) {
        ++count;
        Require(line == scanning.MakeLine(entry.first, entry.second), "the entry is canonical");
      }
    }
    Require(count == 1, "exactly one entry per expected domain");
  }
  Require(changed || out == text || out == text + "\n" || in.size() > 0,
          "an unchanged file stays itself");

  FuzzHosts again(hosts);
  Require(!again.BuildContent(std::string(out), true), "the corrected text needs no repair");
  Require(again.Content() == out, "the corrected text is stable");
  return 0;
}
