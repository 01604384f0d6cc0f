#include "checkers/HostsChecker.h"

#include "checkers/LinuxHostsChecker.h"
#include "common/FileIO.h"
#include "common/LineSearch.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

namespace {

// isspace() in the C locale, without its locale lookup; bytes outside ASCII
// are never white space.
struct SpaceTable {
  bool space[256] = {};
  constexpr SpaceTable() {
    for (unsigned char c : {' ', '\t', '\n', '\v', '\f', '\r'}) {
      space[c] = true;
    }
  }
};
constexpr SpaceTable kSpaces;

inline bool IsSpace(char c) { return kSpaces.space[static_cast<unsigned char>(c)]; }

using Expected = std::map<std::string, std::string>;

// The expected domain that name spells, as the resolver compares names:
// without regard to ASCII letter case. An exact spelling wins over another
// domain that differs from it only in case.
Expected::const_iterator DomainSpelledBy(const Expected& expected, std::string_view name) {
  auto found = expected.end();
  for (auto it = expected.begin(); it != expected.end(); ++it) {
    if (NSCheckerTool::EqualIgnoringCase(name, it->first)) {
      if (name == it->first) {
        return it;
      }
      if (found == expected.end()) {
        found = it;
      }
    }
  }
  return found;
}

}  // namespace

HostsChecker::HostsChecker() = default;
HostsChecker::~HostsChecker() = default;

HostsChecker* HostsChecker::CreateInstance() {
  // The checker made here judges lines with this class's own CheckError, so
  // lines that name no expected domain may be passed over unread.
  static_assert(
      std::is_same_v<decltype(&LinuxHostsChecker::CheckError), decltype(&HostsChecker::CheckError)>,
      "the fast walk over the hosts file needs this class's own CheckError");
  auto* checker = new LinuxHostsChecker();
  checker->m_bOnlyNamingLines = true;
  return checker;
}

void HostsChecker::DestroyInstance(HostsChecker*& checker) {
  delete checker;
  checker = nullptr;
}

EmHostsCheckerState HostsChecker::Init(const pugi::xml_node& section) {
  m_mapHosts.clear();
  if (!section) {
    return EmHostsInitFailed;
  }
  for (const pugi::xml_node& item : section.children()) {
    std::string domain = item.attribute("domain").value();
    if (domain.empty()) {
      continue;
    }
    std::string ip = item.attribute("ip").value();
    if (ip.empty()) {
      continue;
    }
    m_mapHosts.emplace(std::move(domain), std::move(ip));  // the first item of a domain wins
  }
  return EmHostsOk;
}

EmHostsCheckerState HostsChecker::Check() {
  m_strHostsContent.clear();
  if (m_mapHosts.empty()) {
    return EmHostsOk;
  }
  return CheckContent();
}

std::string HostsChecker::GetHostsFilePath() { return "/etc/hosts"; }

EmHostsCheckerState HostsChecker::CheckContent() {
  std::string text;
  // A missing file reads as an empty one. A file that is there but cannot be
  // read must not turn into a text that drops the lines we did not see.
  // The slack leaves room for rewritten and appended entries in place.
  const std::size_t slack = 4096 + 128 * m_mapHosts.size();
  if (NSCheckerTool::ReadWholeFile(GetHostsFilePath(), text, slack) ==
      NSCheckerTool::ReadResult::Failed) {
    return EmHostsReadFailed;
  }
  return BuildContent(std::move(text), m_bOnlyNamingLines) ? EmHostsNeedRepair : EmHostsOk;
}

bool HostsChecker::BuildContent(std::string&& text, bool onlyNamingLines) {
  std::map<std::string, bool> seen;
  std::vector<std::string> domains;
  for (const auto& entry : m_mapHosts) {
    seen.emplace(entry.first, false);
    domains.push_back(entry.first);
  }
  // Each domain is one search through the text; with many, reading every
  // line once is faster.
  const bool scannable = domains.size() <= kMaxScannedDomains;

  // The corrected text is the file's text with a few lines replaced: judge
  // the lines, keeping only the replacements, then apply them.
  struct Edit {
    std::size_t begin, end;
    std::string line;
  };
  std::vector<Edit> edits;
  std::size_t grownSize = text.size();
  bool changed = false;
  std::string line;
  auto judge = [&](std::size_t begin, std::size_t end) {
    line.assign(text, begin, end - begin);
    if (CheckError(line, m_mapHosts, seen)) {
      changed = true;
    }
    if (text.compare(begin, end - begin, line) != 0) {
      grownSize = grownSize - (end - begin) + line.size();
      edits.push_back({begin, end, line});
    }
  };
  const std::size_t size = text.size();
  auto lineEnd = [&](std::size_t begin) {
    const void* newline = std::memchr(text.data() + begin, '\n', size - begin);
    return newline ? static_cast<std::size_t>(static_cast<const char*>(newline) - text.data())
                   : size;
  };
  if (onlyNamingLines && scannable) {
    for (const std::size_t begin : NSCheckerTool::LinesContaining(text, domains)) {
      judge(begin, lineEnd(begin));
    }
  } else {
    for (std::size_t begin = 0; begin < size;) {
      const std::size_t end = lineEnd(begin);
      judge(begin, end);
      begin = end + 1;
    }
  }

  std::string missing;
  for (const auto& flag : seen) {
    if (flag.second) {
      continue;
    }
    const auto expected = m_mapHosts.find(flag.first);
    missing +=
        MakeLine(flag.first, expected != m_mapHosts.end() ? expected->second : std::string());
    missing += '\n';
    changed = true;
  }

  const std::size_t finalSize = grownSize + 1 + missing.size();
  std::string out;
  if (edits.size() <= kInPlaceEdits && text.capacity() >= finalSize) {
    // A few edits, and room for them: apply them where the text lies, last
    // first, so a large file is neither copied nor held twice.
    for (auto edit = edits.rbegin(); edit != edits.rend(); ++edit) {
      text.replace(edit->begin, edit->end - edit->begin, edit->line);
    }
    out = std::move(text);
  } else {
    out.reserve(finalSize);
    std::size_t copied = 0;
    for (const Edit& edit : edits) {
      out.append(text, copied, edit.begin - copied);
      out += edit.line;
      copied = edit.end;  // the newline after the line stays with the next run
    }
    out.append(text, copied, std::string::npos);
    std::string().swap(text);
  }
  if (!out.empty() && out.back() != '\n') {
    out += '\n';
  }
  out += missing;
  m_strHostsContent = std::move(out);
  return changed;
}

bool HostsChecker::ReadHostsLine(std::string_view line, HostsLine& out) {
  out.address = std::string_view();
  out.names.clear();
  std::size_t pos = 0;
  while (pos < line.size() && IsSpace(line[pos])) {
    ++pos;
  }
  if (pos == line.size() || line[pos] == '#') {
    return false;
  }
  const std::size_t end = std::min(line.find('#', pos), line.size());
  bool first = true;
  while (pos < end) {
    const std::size_t begin = pos;
    while (pos < end && !IsSpace(line[pos])) {
      ++pos;
    }
    if (first) {
      out.address = line.substr(begin, pos - begin);
      first = false;
    } else {
      out.names.push_back(line.substr(begin, pos - begin));
    }
    while (pos < end && IsSpace(line[pos])) {
      ++pos;
    }
  }
  return true;
}

bool HostsChecker::CheckError(std::string& line, const std::map<std::string, std::string>& expected,
                              std::map<std::string, bool>& seen) {
  static thread_local HostsLine s_fields;  // reused: no allocation per line
  if (!ReadHostsLine(line, s_fields) || s_fields.names.empty()) {
    return false;
  }
  // Which expected domain each name spells, if any.
  const std::string* domain = nullptr;
  bool oneDomain = true;
  bool namesADomain = false;
  for (std::string_view name : s_fields.names) {
    const auto spelled = DomainSpelledBy(expected, name);
    if (spelled == expected.end()) {
      oneDomain = false;
      continue;
    }
    namesADomain = true;
    if (domain == nullptr) {
      domain = &spelled->first;
    } else if (*domain != spelled->first) {
      oneDomain = false;
    }
  }
  if (!namesADomain) {
    return false;  // the line stays exactly as it is
  }

  const char* const base = line.data();
  if (!oneDomain) {
    // Other names share the line: they keep their address, and only the
    // expected domains go, each with the run of white space before it.
    std::vector<std::pair<std::size_t, std::size_t>> cuts;
    for (std::string_view name : s_fields.names) {
      if (DomainSpelledBy(expected, name) == expected.end()) {
        continue;
      }
      std::size_t from = static_cast<std::size_t>(name.data() - base);
      while (from > 0 && IsSpace(line[from - 1])) {
        --from;
      }
      cuts.emplace_back(from, static_cast<std::size_t>(name.data() - base) + name.size());
    }
    for (auto cut = cuts.rbegin(); cut != cuts.rend(); ++cut) {
      line.erase(cut->first, cut->second - cut->first);
    }
    return true;
  }

  // Every name spells one expected domain: this line is that domain's entry.
  std::size_t first = 0;
  std::size_t last = line.size();
  while (last > first && IsSpace(line[last - 1])) {
    --last;
  }
  while (first < last && IsSpace(line[first])) {
    ++first;
  }
  bool& accepted = seen[*domain];
  if (accepted) {
    line = "# " + line.substr(first, last - first);
    return true;
  }
  accepted = true;
  const std::string& ip = expected.find(*domain)->second;
  const std::string_view name = s_fields.names.front();
  // last is the trimmed end: anything after the name (an alias spelling, a
  // comment) ends before it.
  const bool needRepair = s_fields.address != ip || name != *domain ||
                          static_cast<std::size_t>(name.data() - base) + name.size() < last;
  line = MakeLine(*domain, ip);
  return needRepair;
}

std::string HostsChecker::MakeLine(const std::string& domain, const std::string& ip) {
  std::string text = ip + "     ";
  if (text.size() < 21) {
    text.append(21 - text.size(), ' ');
  }
  text += domain;
  return text;
}

std::string& HostsChecker::rtrim(std::string& s) {
  std::size_t end = s.size();
  while (end > 0 && IsSpace(s[end - 1])) {
    --end;
  }
  s.erase(end);
  return s;
}

std::string& HostsChecker::ltrim(std::string& s) {
  std::size_t begin = 0;
  while (begin < s.size() && IsSpace(s[begin])) {
    ++begin;
  }
  s.erase(0, begin);
  return s;
}

std::string& HostsChecker::trim(std::string& s) { return ltrim(rtrim(s)); }
