// How a line reaches the rules (CheckError):
//  - whole, when it fits the line reader's buffer, as nearly every line does;
//  - by digest, when it is longer and no corrected text is kept (the
//    program's check): a short line that the rules judge as the line itself,
//    so the check's memory does not grow with a line;
//  - in pieces, when it is longer and the corrected text is kept: the pieces
//    go into the text as they come, and the line is taken out again and
//    judged whole only when its digest says it is rewritten, or always when
//    CheckError is not this class's own (the digest is made for its rules).

#include "checkers/HostsChecker.h"

#include "common/FileIO.h"
#include "common/LineReader.h"
#include "common/LineSearch.h"

#include <sys/stat.h>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <set>

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

// The rules: what a line is, and how it is judged.

bool HostsChecker::ReadHostsLine(std::string_view line, HostsLine& out) {
  out.address = std::string_view();
  out.names.clear();
  // The resolver reads a line as a C string: it ends at a NUL.
  line = line.substr(0, line.find('\0'));
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

// The ways a line reaches the rules.

namespace {

// A long field is skimmed a word of kSkimBytes bytes at a time.
constexpr std::uint64_t kOnes = 0x0101010101010101ULL;  // a one in every byte
static_assert(sizeof(std::uint64_t) == HostsChecker::kSkimBytes, "one word is skimmed at once");
// Whether a byte of word is below n (n <= 128): subtracting n from every byte sets the top bit of
// such a byte, which it did not have (a byte above it may show too, harmless here: the word stops).
constexpr bool HasByteBelow(std::uint64_t word, unsigned n) {
  return ((word - kOnes * n) & ~word & (kOnes * 0x80)) != 0;
}
// Whether a byte of word may end a field: a NUL or a blank from 9 to 13 (1 to 8 are false alarms,
// which only cost the byte-wise look), a space or a "#" (XOR turns the byte looked for into 0).
constexpr bool MayEndAField(std::uint64_t word) {
  return HasByteBelow(word, 14) || HasByteBelow(word ^ (kOnes * ' '), 1) ||
         HasByteBelow(word ^ (kOnes * '#'), 1);
}

// A line of any length, taken a piece at a time, made into a short line
// that the resolver's reading and the rules judge alike (the same address
// and first name, the same domains named after it, a name that is no
// domain, what stands after the names), in memory that does not grow with
// the line: runs of white space become one blank, a field longer than any
// address or domain is cut to one byte more than those, of the names after
// the first only the first of each domain and the first that is none are
// kept, and a comment or a NUL leaves only its first byte.
class LineDigest {
 public:
  explicit LineDigest(const Expected& expected) : m_expected(expected) {
    for (const auto& entry : expected) {
      m_nLongest = std::max({m_nLongest, entry.first.size(), entry.second.size()});
    }
  }

  void Add(std::string_view piece) {
    const char* p = piece.data();
    const char* const end = p + piece.size();
    while (p < end && !m_bDone) {
      // A word at a time over what changes nothing: more of a field already
      // too long to be any address or domain, or more blanks.
      if (m_nFieldLength > m_nLongest) {
        p = Skip(p, end, false);
      } else if (m_nFieldLength == 0 && !m_strOut.empty() && m_strOut.back() == ' ') {
        p = Skip(p, end, true);
      }
      if (p == end) {
        break;
      }
      const char c = *p++;
      if (c == '\0' || c == '#') {
        EndField();
        m_strOut += c;
        m_bDone = true;  // nothing after it is read as a field
      } else if (IsSpace(c)) {
        EndField();
        if (m_strOut.empty() || m_strOut.back() != ' ') {
          m_strOut += ' ';
        }
      } else {
        if (m_strField.size() <= m_nLongest) {
          m_strField += c;
        }
        ++m_nFieldLength;
      }
    }
  }

  // The short line; the digest starts again.
  std::string& Finish() {
    EndField();
    m_bDone = false;
    m_nFields = 0;
    m_bOtherKept = false;
    m_setKept.clear();
    m_strLast.swap(m_strOut);
    m_strOut.clear();
    return m_strLast;
  }

 private:
  void EndField() {
    if (m_nFieldLength == 0) {
      return;
    }
    bool keep = m_nFields < 2;  // the address and the first name
    if (!keep) {
      const auto spelled = m_nFieldLength <= m_nLongest
                               ? DomainSpelledBy(m_expected, m_strField)
                               : m_expected.end();
      if (spelled != m_expected.end()) {
        keep = m_setKept.insert(spelled->first).second;
      } else {
        keep = !m_bOtherKept;
        m_bOtherKept = true;
      }
    }
    if (keep) {
      m_strOut += m_strField;
    }
    ++m_nFields;
    m_strField.clear();
    m_nFieldLength = 0;
  }

  // Past the words of kSkimBytes from p that hold no byte that could end a
  // field (blanks: that hold nothing but spaces); the word with such a byte
  // is left to the byte-wise reading.
  const char* Skip(const char* p, const char* end, bool blanks) {
    while (static_cast<std::size_t>(end - p) >= HostsChecker::kSkimBytes) {
      std::uint64_t word = 0;
      std::memcpy(&word, p, sizeof word);
      if (blanks ? word != kOnes * ' ' : MayEndAField(word)) {
        break;
      }
      if (!blanks) {
        m_nFieldLength += HostsChecker::kSkimBytes;
      }
      p += HostsChecker::kSkimBytes;
    }
    return p;
  }

  const Expected& m_expected;
  std::size_t m_nLongest = 0;
  std::string m_strOut;
  std::string m_strLast;
  std::string m_strField;  // at most one byte longer than any address or domain
  std::size_t m_nFieldLength = 0;
  std::size_t m_nFields = 0;
  bool m_bDone = false;
  bool m_bOtherKept = false;
  std::set<std::string> m_setKept;
};

// Shows lines to CheckError in the ways told at the top of this file, and
// keeps the corrected text when asked to.
class Judging : public NSCheckerTool::LineSink {
 public:
  // digestable: the checker's CheckError is the base class's own, which
  // judges a long line's digest as the line itself.
  Judging(HostsChecker& checker, const Expected& expected, std::map<std::string, bool>& seen,
          std::string* content, bool digestable)
      : m_checker(checker), m_expected(expected), m_seen(seen), m_pContent(content),
        m_bDigestable(digestable), m_digest(expected) {}

  void Line(std::string_view line) override {
    m_strLine.assign(line);
    Judge(m_strLine);
  }
  void Between(std::string_view bytes) override {
    if (m_pContent != nullptr) {
      m_pContent->append(bytes);
    }
  }
  bool TakesPieces() const override { return true; }
  void Piece(std::string_view piece, bool last) override {
    if (m_pContent == nullptr) {
      ByDigest(piece, last);
    } else {
      InPieces(piece, last);
    }
  }
  bool Changed() const { return m_bChanged; }

 private:
  // A long line when no text is kept.
  void ByDigest(std::string_view piece, bool last) {
    m_digest.Add(piece);
    if (last) {
      Judge(m_digest.Finish());
    }
  }

  // A long line when the text is kept: it is gathered once, there.
  void InPieces(std::string_view piece, bool last) {
    if (m_bDigestable) {
      m_digest.Add(piece);
    }
    if (!m_bInPieces) {
      m_nLineStart = m_pContent->size();
      m_bInPieces = true;
    }
    m_pContent->append(piece);  // the line's one copy
    if (!last) {
      return;
    }
    m_bInPieces = false;
    if (m_bDigestable && StaysByDigest()) {
      return;
    }
    m_strLine.assign(*m_pContent, m_nLineStart);
    m_pContent->resize(m_nLineStart);
    Judge(m_strLine);
  }

  // Whether the digest of the line just ended says the line stays as it
  // is; then it stays where it is, in the text, and what it named is seen.
  bool StaysByDigest() {
    std::map<std::string, bool> seen = m_seen;
    const std::string& digest = m_digest.Finish();
    m_strLine = digest;
    if (!m_checker.CheckError(m_strLine, m_expected, seen) && m_strLine == digest) {
      m_seen.swap(seen);
      return true;
    }
    return false;
  }

  void Judge(std::string& line) {
    if (m_checker.CheckError(line, m_expected, m_seen)) {
      m_bChanged = true;
    }
    if (m_pContent != nullptr) {
      m_pContent->append(line);
    }
  }

  HostsChecker& m_checker;
  const Expected& m_expected;
  std::map<std::string, bool>& m_seen;
  std::string* m_pContent;
  bool m_bDigestable;
  std::string m_strLine;  // reused: no allocation per line
  bool m_bInPieces = false;
  std::size_t m_nLineStart = 0;
  LineDigest m_digest;
  bool m_bChanged = false;
};

}  // namespace

// The checks, which read the file (or a text) and show its lines to the rules.

HostsChecker::HostsChecker() = default;
HostsChecker::~HostsChecker() = default;

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
  // The checker the program makes only judges here; its corrected text is
  // built by the repair, from the file as it is then. Any other checker
  // (one whose CheckError may be another) is shown every line and keeps the
  // corrected text, as the rules describe it.
  return Judge(m_bOnlyNamingLines ? nullptr : &m_strHostsContent);
}

EmHostsCheckerState HostsChecker::RebuildContent() { return Judge(&m_strHostsContent); }

EmHostsCheckerState HostsChecker::Judge(std::string* content) {
  const std::string path = GetHostsFilePath();
  if (content != nullptr) {
    content->clear();
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      content->reserve(static_cast<std::size_t>(st.st_size) + 64 * (m_mapHosts.size() + 1));
    }
  }
  std::map<std::string, bool> seen = FreshSeen();
  Judging judging(*this, m_mapHosts, seen, content, m_bOnlyNamingLines);
  // A missing file reads as an empty one. A file that is there but cannot be
  // read must not turn into a text that drops the lines we did not see.
  m_read.repairReading = content != nullptr;
  if (NSCheckerTool::ReadFileLines(path, Needles(m_bOnlyNamingLines), judging,
                                   NSCheckerTool::kLineBufferSize,
                                   &m_read) == NSCheckerTool::ReadResult::Failed) {
    if (content != nullptr) {
      content->clear();
    }
    return EmHostsReadFailed;
  }
  return Finish(seen, judging.Changed(), content) ? EmHostsNeedRepair : EmHostsOk;
}

bool HostsChecker::BuildContent(std::string&& text, bool onlyNamingLines) {
  m_strHostsContent.clear();
  std::map<std::string, bool> seen = FreshSeen();
  Judging judging(*this, m_mapHosts, seen, &m_strHostsContent, onlyNamingLines);
  NSCheckerTool::TextSource source(text);
  (void)NSCheckerTool::ReadLines(source, Needles(onlyNamingLines), judging);  // memory: no error
  return Finish(seen, judging.Changed(), &m_strHostsContent);
}

const std::vector<std::string>* HostsChecker::Needles(bool onlyNamingLines) {
  // Each domain is one search through the text; with many, reading every
  // line once is faster. Every line goes to a CheckError that may not be
  // this class's own.
  m_vecNeedles.clear();
  if (!onlyNamingLines || m_mapHosts.size() > kMaxScannedDomains) {
    return nullptr;
  }
  for (const auto& entry : m_mapHosts) {
    m_vecNeedles.push_back(entry.first);
  }
  return &m_vecNeedles;
}

std::map<std::string, bool> HostsChecker::FreshSeen() const {
  std::map<std::string, bool> seen;
  for (const auto& entry : m_mapHosts) {
    seen.emplace(entry.first, false);
  }
  return seen;
}

bool HostsChecker::Finish(std::map<std::string, bool>& seen, bool changed, std::string* content) {
  if (content != nullptr && !content->empty() && content->back() != '\n') {
    *content += '\n';
  }
  // The lines were shown to CheckError in order; an expected domain that no
  // line carried gets its canonical line at the end, in domain order.
  for (const auto& entry : m_mapHosts) {
    if (seen[entry.first]) {
      continue;
    }
    changed = true;
    if (content != nullptr) {
      *content += MakeLine(entry.first, entry.second);
      *content += '\n';
    }
  }
  return changed;
}
