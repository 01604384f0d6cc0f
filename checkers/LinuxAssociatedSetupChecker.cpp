#include "checkers/LinuxAssociatedSetupChecker.h"

#include "common/FileIO.h"
#include "common/Repair.h"
#include "common/NSCheckerTool.h"

#include <glib.h>

#include <algorithm>
#include <cstring>
#include <memory>
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
  bool hasExec = false;
  std::string found;
  m_read.repairReading = true;  // the entry is read once, and its repair built from it
  if (NSCheckerTool::ReadWholeFile(urlFile, text, &m_read) != NSCheckerTool::ReadResult::Ok ||
      !ReadUsable(text, hasExec, found)) {
    // An entry that the desktop does not use is no handler to repair: a
    // line added to it would not make GLib read it.
    m_bUrlFileUnusable = true;
    return EmSetupInitFailed;
  }
  m_bUrlFileUnusable = false;
  (void)RebuildEntry(text, exec, m_strUrlFileContent);
  if (!hasExec) {
    return EmSetupInitFailed;
  }
  curExec = found;
  return EmSetupOk;
}

namespace {

struct KeyFileFree {
  void operator()(GKeyFile* file) const { g_key_file_free(file); }
};
struct GFree {
  void operator()(gchar* text) const { g_free(text); }
};
using Text = std::unique_ptr<gchar, GFree>;

// White space as GLib's key-file reader skips it (g_ascii_isspace): not the
// vertical tab.
bool IsKeySpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; }

}  // namespace

bool LinuxAssociatedSetupChecker::ReadUsable(const std::string& text, bool& hasExec,
                                             std::string& exec) {
  hasExec = false;
  exec.clear();
  const std::unique_ptr<GKeyFile, KeyFileFree> file(g_key_file_new());
  if (!g_key_file_load_from_data(file.get(), text.data(), text.size(), G_KEY_FILE_NONE, nullptr)) {
    return false;
  }
  const Text start(g_key_file_get_start_group(file.get()));
  if (start == nullptr || std::strcmp(start.get(), G_KEY_FILE_DESKTOP_GROUP) != 0) {
    return false;
  }
  const Text type(g_key_file_get_string(file.get(), G_KEY_FILE_DESKTOP_GROUP,
                                        G_KEY_FILE_DESKTOP_KEY_TYPE, nullptr));
  if (type == nullptr || std::strcmp(type.get(), G_KEY_FILE_DESKTOP_TYPE_APPLICATION) != 0 ||
      g_key_file_get_boolean(file.get(), G_KEY_FILE_DESKTOP_GROUP, G_KEY_FILE_DESKTOP_KEY_HIDDEN,
                             nullptr)) {
    return false;
  }
  // The raw value: a command that only an unescaping makes right still asks
  // for a repair.
  const Text value(g_key_file_get_value(file.get(), G_KEY_FILE_DESKTOP_GROUP,
                                        G_KEY_FILE_DESKTOP_KEY_EXEC, nullptr));
  if (value != nullptr) {
    hasExec = true;
    exec = value.get();
  }
  return true;
}

bool LinuxAssociatedSetupChecker::RebuildEntry(const std::string& text, const std::string& exec,
                                               std::string& rebuilt) {
  rebuilt.clear();
  rebuilt.reserve(text.size() + exec.size() + 8);
  const std::string execLine = "Exec=" + exec + "\n";
  bool found = false;
  bool inMain = false;
  // Where the Exec line goes if the main group has none: after its last key
  // line, or after its header when it has no key.
  std::size_t insertAt = std::string::npos;
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p < end) {
    const char* newline = static_cast<const char*>(std::memchr(p, '\n', end - p));
    const char* lineEnd = newline ? newline : end;
    // What GLib reads of the line: up to a NUL, without a CR before the
    // newline (a last line without one keeps its CR). A line that is not
    // rewritten keeps every byte.
    std::size_t length = static_cast<std::size_t>(lineEnd - p);
    if (newline != nullptr && length > 0 && p[length - 1] == '\r') {
      --length;
    }
    if (const void* nul = std::memchr(p, '\0', length)) {
      length = static_cast<std::size_t>(static_cast<const char*>(nul) - p);
    }
    const char* const said = p + length;
    const char* key = p;
    while (key < said && IsKeySpace(*key)) {
      ++key;
    }
    bool header = false;
    bool mainKey = false;
    bool rewrite = false;
    if (key < said && *key == '[') {
      const char* close = static_cast<const char*>(std::memchr(key, ']', said - key));
      inMain = close != nullptr &&
               std::string_view(key + 1, static_cast<std::size_t>(close - key - 1)) ==
                   G_KEY_FILE_DESKTOP_GROUP;
      header = inMain && insertAt == std::string::npos;
    } else if (inMain && key < said && *key != '#') {
      mainKey = true;
      const char* equals = static_cast<const char*>(std::memchr(key, '=', said - key));
      const char* keyEnd = equals != nullptr ? equals : key;
      while (keyEnd > key && IsKeySpace(keyEnd[-1])) {
        --keyEnd;
      }
      rewrite = std::string_view(key, static_cast<std::size_t>(keyEnd - key)) ==
                G_KEY_FILE_DESKTOP_KEY_EXEC;
      found = found || rewrite;
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
    // Into the main group, not whatever group comes last.
    rebuilt.insert(std::min(insertAt, rebuilt.size()), execLine);
  }
  return found;
}

EmSetupCheckerState LinuxAssociatedSetupChecker::Check() {
  if (m_bUrlFileUnusable) {
    return EmSetupInitFailed;
  }
  return m_strCurExec == m_strExec ? EmSetupOk : EmSetupNeedRepair;
}

EmSetupCheckerState LinuxAssociatedSetupChecker::Repair() {
  if (m_bUrlFileUnusable) {
    return EmSetupRepairFailed;  // never install a text built from nothing
  }
  // What is installed is what GLib reads as a usable entry with the
  // configured command, or nothing.
  bool hasExec = false;
  std::string exec;
  if (!ReadUsable(m_strUrlFileContent, hasExec, exec) || !hasExec || exec != m_strExec) {
    return EmSetupRepairFailed;
  }
  const std::string tmpPath = NSCheckerTool::GetOSTempPath() + "/check_hosts_tmp";
  EmSetupCheckerState result = WriteTmpUrlFile(tmpPath);
  if (result != EmSetupOk) {
    return result;
  }
  return ReplaceUrlFile(m_strUrlFile, tmpPath);
}

EmSetupCheckerState LinuxAssociatedSetupChecker::WriteTmpUrlFile(const std::string& tmpPath) {
  return NSCheckerTool::StageRepairText(tmpPath, m_strUrlFileContent, m_read)
             ? EmSetupOk
             : EmSetupRepairFailed;
}

EmSetupCheckerState LinuxAssociatedSetupChecker::ReplaceUrlFile(const std::string& target,
                                                                const std::string& tmpPath) {
  return NSCheckerTool::InstallStagedText(tmpPath, target) ? EmSetupOk : EmSetupRepairFailed;
}
