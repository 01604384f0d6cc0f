#include "checkers/LinuxAssociatedSetupChecker.h"

#include "common/FileIO.h"
#include "common/NSCheckerTool.h"

#include <cstring>

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

bool LinuxAssociatedSetupChecker::RebuildEntry(const std::string& text, const std::string& exec,
                                               std::string& curExec, std::string& rebuilt) {
  rebuilt.clear();
  rebuilt.reserve(text.size() + exec.size() + 8);
  bool found = false;
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p < end) {
    const char* newline = static_cast<const char*>(std::memchr(p, '\n', end - p));
    const char* lineEnd = newline ? newline : end;
    const std::size_t length = static_cast<std::size_t>(lineEnd - p);
    if (length >= 4 && std::memcmp(p, "Exec", 4) == 0) {
      // The key and the byte after it ("=") are skipped; a bare "Exec" has
      // no command at all.
      curExec.assign(length > 5 ? p + 5 : lineEnd, lineEnd);
      rebuilt += "Exec=";
      rebuilt += exec;
      found = true;
    } else {
      rebuilt.append(p, length);
    }
    rebuilt += '\n';
    p = newline ? newline + 1 : end;
  }
  if (!found) {
    rebuilt += "Exec=" + exec + "\n";
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
  return NSCheckerTool::WriteRepairFile(tmpPath, m_strUrlFileContent, m_strUrlFile)
             ? EmSetupOk
             : EmSetupRepairFailed;
}

EmSetupCheckerState LinuxAssociatedSetupChecker::ReplaceUrlFile(const std::string& target,
                                                                const std::string& tmpPath) {
  return NSCheckerTool::InstallRepairFile(tmpPath, target) ? EmSetupOk : EmSetupRepairFailed;
}
