#include "checkers/HostsChecker.h"

#include "checkers/LinuxHostsChecker.h"
#include "common/FileIO.h"

#include <cstring>

namespace {

// isspace() in the C locale, without its locale lookup; bytes outside ASCII
// are never white space.
inline bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
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
  std::map<std::string, bool> seen;
  for (const auto& entry : m_mapHosts) {
    seen.emplace(entry.first, false);
  }

  NSCheckerTool::FileBytes file;
  // A missing file reads as an empty one. A file that is there but cannot be
  // read must not turn into a text that drops the lines we did not see.
  if (NSCheckerTool::ReadWholeFile(GetHostsFilePath(), file) == NSCheckerTool::ReadResult::Failed) {
    return EmHostsReadFailed;
  }

  std::string content;
  content.reserve(file.size + 1 + m_mapHosts.size() * 64);
  bool changed = false;
  std::string line;
  const char* p = file.begin();
  const char* const end = file.end();
  while (p < end) {
    const char* newline = static_cast<const char*>(std::memchr(p, '\n', end - p));
    const char* lineEnd = newline ? newline : end;
    line.assign(p, lineEnd);
    if (CheckError(line, m_mapHosts, seen)) {
      changed = true;
    }
    content += line;
    content += '\n';
    p = newline ? newline + 1 : end;
  }

  for (const auto& flag : seen) {
    if (flag.second) {
      continue;
    }
    auto expected = m_mapHosts.find(flag.first);
    const std::string& ip = expected != m_mapHosts.end() ? expected->second : std::string();
    content += MakeLine(flag.first, ip);
    content += '\n';
    changed = true;
  }

  m_strHostsContent = std::move(content);
  return changed ? EmHostsNeedRepair : EmHostsOk;
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

  const char* s = line.data();
  std::size_t pos = first;
  auto nextToken = [&](std::size_t& begin, std::size_t& length) {
    while (pos < last && IsSpace(s[pos])) {
      ++pos;
    }
    begin = pos;
    while (pos < last && !IsSpace(s[pos])) {
      ++pos;
    }
    length = pos - begin;
  };
  std::size_t addrBegin = 0, addrLen = 0, nameBegin = 0, nameLen = 0, extraBegin = 0, extraLen = 0;
  nextToken(addrBegin, addrLen);
  nextToken(nameBegin, nameLen);
  nextToken(extraBegin, extraLen);
  if (nameLen == 0) {
    return false;
  }

  // The lookup key is rebuilt in a reused buffer, so no line allocates.
  static thread_local std::string s_strName;
  s_strName.assign(s + nameBegin, nameLen);
  auto wanted = expected.find(s_strName);
  if (wanted == expected.end()) {
    return false;
  }

  bool& accepted = seen[s_strName];
  if (accepted) {
    line = "# " + line.substr(first, last - first);
    return true;
  }
  accepted = true;
  const std::string& ip = wanted->second;
  bool needRepair = extraLen != 0 || line.compare(addrBegin, addrLen, ip) != 0;
  std::string name = s_strName;  // MakeLine may be overridden and reuse nothing of ours
  line = MakeLine(name, ip);
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
