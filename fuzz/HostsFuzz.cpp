// The hosts check on arbitrary file content, judged by the resolver's reading
// (an independent one, in testsupport). Properties: both ways of walking the
// lines agree; the corrected text ends with a newline; every line that names
// no expected domain is kept byte for byte and in order; exactly one line
// names each expected domain, and it is the canonical one; every other name
// maps to the same addresses, in the same order, before and after; checking
// the corrected text again finds nothing to do.
#include "checkers/LinuxHostsChecker.h"

#include "fuzz/FuzzSupport.h"
#include "testsupport/ResolverReading.h"

#include <cstdint>
#include <map>
#include <set>

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
    {{"a", "10.0.0.1"}, {"localhost", "127.0.0.1"}, {"Local.Tolvane.com", "127.0.0.1"}},
};

std::string Canonical(const std::string& domain, const std::string& ip) {
  std::string line = ip + "     ";
  while (line.size() < 21) {
    line += ' ';
  }
  return line + domain;
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

  std::set<std::string> domains;
  for (const auto& entry : hosts) {
    domains.insert(resolver::Folded(entry.first));
  }
  auto namesDomain = [&](const std::string& line, const std::string& folded) {
    for (const std::string& name : resolver::Read(line).names) {
      if (resolver::Folded(name) == folded) {
        return true;
      }
    }
    return false;
  };
  auto namesAny = [&](const std::string& line) {
    for (const std::string& folded : domains) {
      if (namesDomain(line, folded)) {
        return true;
      }
    }
    return false;
  };

  const std::vector<std::string> in = Lines(text);
  const std::vector<std::string> lines = Lines(out);
  Require(lines.size() >= in.size(), "no line is lost");
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (!namesAny(in[i])) {
      Require(lines[i] == in[i], "a line naming no expected domain is kept");
    }
  }
  for (const auto& entry : hosts) {
    int count = 0;
    for (const std::string& line : lines) {
      if (namesDomain(line, resolver::Folded(entry.first))) {
        ++count;
        Require(line == Canonical(entry.first, entry.second), "the entry is canonical");
      }
    }
    Require(count == 1, "exactly one line names each expected domain");
  }
  auto others = [&](const std::string& read) {
    auto byName = resolver::AddressesByName(read);
    for (const std::string& folded : domains) {
      byName.erase(folded);
    }
    return byName;
  };
  Require(others(text) == others(out), "every other name keeps its addresses, in order");

  FuzzHosts again(hosts);
  Require(!again.BuildContent(std::string(out), true), "the corrected text needs no repair");
  Require(again.Content() == out, "the corrected text is stable");
  return 0;
}
