#include "checkers/LinuxAssociatedSetupChecker.h"

#include "common/FileIO.h"
#include "common/NSCheckerTool.h"

#include <algorithm>
#include <cstring>
#include <string_view>

LinuxAssociatedSetupChecker::LinuxAssociatedSetupChecker() = default;
LinuxAssociatedSetupChecker::~LinuxAssociatedSetupChecker() = default;

EmSetupCheckerState LinuxAssociatedSetupChecker::Init(const pugi::xml_node& section) {
  const pugi::xml_node linuxNode = section.child("linux");
  EmSetupCheckerState result = GetCfg(linuxNode, m_strUrlFile, m_strExec);
  if (result != EmSetupOk) {
    return result;
  }
  return GetExec(m_strUrlFile, m_strExec, m_strCurExec);
}

EmSetupCheckerState LinuxAssociatedSetupChecker::GetCfg(const pugi::xml_node& linuxNode,
                                                        std::string& urlFile, std::string& exec) {
  if (!linuxNode) {
    return EmSetupInitFailed;
  }
  const pugi::xml_node item = linuxNode.first_child();
  if (!item) {
    return EmSetupOk;
  }
  urlFile = item.attribute("key").value();
  exec = item.attribute("data").value();
  return EmSetupOk;
}

EmSetupCheckerState LinuxAssociatedSetupChecker::GetExec(const std::string& urlFile,
                                                         const std::string& exec,
                                                         std::string& curExec) {
  std::string text;
  if (NSCheckerTool::ReadWholeFile(urlFile, text) != NSCheckerTool::ReadResult::Ok) {
    m_bUrlFileUnreadable = true;
    return EmSetupInitFailed;
  }
  m_bUrlFileUnreadable = false;
  return RebuildEntry(text, exec, curExec, m_strUrlFileContent) ? EmSetupOk : EmSetupInitFailed;
}

namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The line [begin, end) without white space at either end.
std::string_view Trimmed(const char* begin, const char* end) {
  while (begin < end && IsSpace(*begin)) {
    ++begin;
  }
  while (end > begin && IsSpace(end[-1])) {
    --end;
  }
  return std::string_view(begin, static_cast<std::size_t>(end - begin));
}

// Whether the key line [key, end) (leading white space already skipped) sets
// the key Exec; command then receives its value, leading white space
// skipped. A line of the key alone, without "=", has the empty command.
bool IsExecLine(const char* key, const char* end, std::string& command) {
  if (end - key < 4 || std::memcmp(key, "Exec", 4) != 0) {
    return false;
  }
  const char* p = key + 4;
  while (p < end && (*p == ' ' || *p == '\t')) {
    ++p;
  }
  if (p == end) {
    command.clear();
    return true;
  }
  if (*p != '=') {
    return false;  // ExecutionMode, Exec[de] and the like
  }
  ++p;
  while (p < end && IsSpace(*p)) {
    ++p;
  }
  command.assign(p, end);
  return true;
}

}  // namespace

bool LinuxAssociatedSetupChecker::RebuildEntry(const std::string& text, const std::string& exec,
                                               std::string& curExec, std::string& rebuilt) {
  rebuilt.clear();
  rebuilt.reserve(text.size() + exec.size() + 8);
  const std::string execLine = "Exec=" + exec + "\n";
  bool found = false;
  bool inMain = false;
  // Where the Exec line goes if the main group has none: after its last key
  // line, or after its header when it has no key.
  std::size_t insertAt = std::string::npos;
  std::string command;
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p < end) {
    const char* newline = static_cast<const char*>(std::memchr(p, '\n', end - p));
    const char* lineEnd = newline ? newline : end;
    // A final CR is not part of what the line says (GLib drops it), but a
    // line that is not rewritten keeps it.
    const char* said = lineEnd > p && lineEnd[-1] == '\r' ? lineEnd - 1 : lineEnd;
    const char* key = p;
    while (key < said && IsSpace(*key)) {
      ++key;
    }
    bool header = false;
    bool mainKey = false;
    bool rewrite = false;
    if (key < said && *key == '[') {
      inMain = Trimmed(p, said) == "[Desktop Entry]";
      header = inMain && insertAt == std::string::npos;
    } else if (inMain && key < said && *key != '#') {
      mainKey = true;
      if (IsExecLine(key, said, command)) {
        // Duplicate keys: the last one counts, as GLib reads them.
        curExec = command;
        found = true;
        rewrite = true;
      }
    }
    if (rewrite) {
      rebuilt += execLine;
    } else {
      rebuilt.append(p, lineEnd);
      rebuilt += '\n';
    }
    if (header || mainKey) {
      insertAt = rebuilt.size();
    }
    p = newline ? newline + 1 : end;
  }
  if (!found) {
    // Into the main group, not whatever group comes last; at the end only
    // when there is no main group at all.
    rebuilt.insert(std::min(insertAt, rebuilt.size()), execLine);
  }
  return found;
}

EmSetupCheckerState LinuxAssociatedSetupChecker::Check() {
  if (m_bUrlFileUnreadable) {
    return EmSetupInitFailed;
  }
  return m_strCurExec == m_strExec ? EmSetupOk : EmSetupNeedRepair;
}

EmSetupCheckerState LinuxAssociatedSetupChecker::Repair() {
  if (m_bUrlFileUnreadable) {
    return EmSetupRepairFailed;  // never install a text built from nothing
  }
  const std::string tmpPath = NSCheckerTool::GetOSTempPath() + "/check_hosts_tmp";
  EmSetupCheckerState result = WriteTmpUrlFile(tmpPath);
  if (result != EmSetupOk) {
    return result;
  }
  return ReplaceUrlFile(m_strUrlFile, tmpPath);
}

EmSetupCheckerState LinuxAssociatedSetupChecker::WriteTmpUrlFile(const std::string& tmpPath) {
  return NSCheckerTool::StageRepairText(tmpPath, m_strUrlFileContent) ? EmSetupOk
                                                                      : EmSetupRepairFailed;
}

EmSetupCheckerState LinuxAssociatedSetupChecker::ReplaceUrlFile(const std::string& target,
                                                                const std::string& tmpPath) {
  return NSCheckerTool::InstallStagedText(tmpPath, target) ? EmSetupOk : EmSetupRepairFailed;
}
