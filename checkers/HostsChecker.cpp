#include "checkers/HostsChecker.h"

#include "checkers/LinuxHostsChecker.h"
#include "common/FileIO.h"

#include <algorithm>
#include <cstring>
#include <typeinfo>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

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

// The first occurrence of needle in [from, end), or null. Where SSE2 is there,
// sixteen positions at a time are tested for the needle's first and last
// bytes, and only those that match both are compared whole: far faster than
// memmem on the long texts of blocklist hosts files.
const char* FindBytes(const char* from, const char* end, const std::string& needle) {
  const std::size_t n = needle.size();
#ifdef __SSE2__
  if (n > 0) {
    const __m128i first = _mm_set1_epi8(needle.front());
    const __m128i last = _mm_set1_epi8(needle.back());
    for (; static_cast<std::size_t>(end - from) >= n + 15; from += 16) {
      const __m128i head = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
      const __m128i tail = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + n - 1));
      unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(
          _mm_and_si128(_mm_cmpeq_epi8(head, first), _mm_cmpeq_epi8(tail, last))));
      while (mask != 0) {
        const char* candidate = from + __builtin_ctz(mask);
        if (std::memcmp(candidate, needle.data(), n) == 0) {
          return candidate;
        }
        mask &= mask - 1;
      }
    }
  }
#endif
  return static_cast<const char*>(::memmem(from, end - from, needle.data(), n));
}

}  // namespace

HostsChecker::HostsChecker() = default;
HostsChecker::~HostsChecker() = default;

HostsChecker* HostsChecker::CreateInstance() { return new LinuxHostsChecker(); }

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
  // Lines may be passed over only when CheckError is our own, which leaves
  // every line that names no expected domain exactly as it is.
  const bool ownCheckError = typeid(*this) == typeid(LinuxHostsChecker);
  return BuildContent(std::move(text), ownCheckError) ? EmHostsNeedRepair : EmHostsOk;
}

std::vector<std::size_t> HostsChecker::NamingLineStarts(const std::string& text) const {
  std::vector<std::size_t> starts;
  const char* const base = text.data();
  const std::size_t size = text.size();
  for (const auto& entry : m_mapHosts) {
    const std::string& domain = entry.first;
    std::size_t from = 0;
    while (from < size) {
      const char* hit = FindBytes(base + from, base + size, domain);
      if (hit == nullptr) {
        break;
      }
      const std::size_t at = hit - base;
      const void* before = ::memrchr(base, '\n', at);
      starts.push_back(before ? static_cast<const char*>(before) - base + 1 : 0);
      const void* after = std::memchr(base + at, '\n', size - at);
      from = after ? static_cast<const char*>(after) - base + 1 : size;
    }
  }
  std::sort(starts.begin(), starts.end());
  starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
  return starts;
}

bool HostsChecker::BuildContent(std::string&& text, bool onlyNamingLines) {
  std::map<std::string, bool> seen;
  bool scannable = m_mapHosts.size() <= kMaxScannedDomains;
  for (const auto& entry : m_mapHosts) {
    seen.emplace(entry.first, false);
    scannable = scannable && !entry.first.empty();
  }

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
    for (const std::size_t begin : NamingLineStarts(text)) {
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

bool HostsChecker::CheckError(std::string& line, const std::map<std::string, std::string>& expected,
                              std::map<std::string, bool>& seen) {
  // Work on the trimmed extent of the line without copying it: most lines of
  // a large hosts file name no expected domain and stay as they are.
  std::size_t first = 0;
  std::size_t last = line.size();
  while (last > first && IsSpace(line[last - 1])) {
    --last;
  }
  while (first < last && IsSpace(line[first])) {
    ++first;
  }
  if (first == last || line[first] == '#') {
    return false;
  }

  const char* const s = line.data();
  std::size_t pos = first;
  while (pos < last && !IsSpace(s[pos])) {
    ++pos;
  }
  const std::size_t addrBegin = first;
  const std::size_t addrLen = pos - first;
  while (pos < last && IsSpace(s[pos])) {
    ++pos;
  }
  const std::size_t nameBegin = pos;
  while (pos < last && !IsSpace(s[pos])) {
    ++pos;
  }
  const std::size_t nameLen = pos - nameBegin;
  // last is the trimmed end, so anything after the name is a third token.
  const bool hasExtra = pos < last;
  if (nameLen == 0) {
    return false;
  }

  auto wanted = expected.end();
  if (expected.size() <= kMaxScannedDomains) {
    // Few names: compare directly, without building a key for every line.
    for (auto it = expected.begin(); it != expected.end(); ++it) {
      if (it->first.size() == nameLen &&
          std::memcmp(it->first.data(), s + nameBegin, nameLen) == 0) {
        wanted = it;
        break;
      }
    }
  } else {
    static thread_local std::string s_strName;  // reused: no allocation per line
    s_strName.assign(s + nameBegin, nameLen);
    wanted = expected.find(s_strName);
  }
  if (wanted == expected.end()) {
    return false;
  }

  bool& accepted = seen[wanted->first];
  if (accepted) {
    line = "# " + line.substr(first, last - first);
    return true;
  }
  accepted = true;
  const std::string& ip = wanted->second;
  const bool needRepair = hasExtra || line.compare(addrBegin, addrLen, ip) != 0;
  line = MakeLine(wanted->first, ip);
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
