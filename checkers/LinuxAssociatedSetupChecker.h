#pragma once

#include "checkers/AssociatedSetupChecker.h"
#include "common/FileIO.h"

#include <string>

// Checks the Exec line of the client's URL-handler desktop entry and installs
// a corrected entry through pkexec (see NSCheckerTool::CopyCommand). The
// entry is read once, by Init; Check and Repair work on what Init kept. GLib
// judges the entry, as the desktops read it: an entry GLib cannot use is
// reported, never repaired.
class LinuxAssociatedSetupChecker : public AssociatedSetupChecker {
 public:
  LinuxAssociatedSetupChecker();
  ~LinuxAssociatedSetupChecker() override;

  // 0, or 3 when the linux item is missing, the entry cannot be read or used,
  // or its main group has no Exec key.
  EmSetupCheckerState Init(const pugi::xml_node& section) override;
  // 0 when the found command equals the configured one, 1 when it differs,
  // 3 when the entry could not be read or used (there is nothing sound to
  // install).
  EmSetupCheckerState Check() override;
  // 0 when the rebuilt entry was written and copied into place, else 2.
  EmSetupCheckerState Repair() override;

  // Copies key and data of the linux element's first child; 3 for a null node.
  EmSetupCheckerState GetCfg(const pugi::xml_node& linuxNode, std::string& urlFile,
                             std::string& exec);
  // Reads the entry; when GLib can use it, takes the value of its Exec key
  // into curExec and builds m_strUrlFileContent. 0, or 3 when the entry is
  // unreadable or unusable or has no Exec key.
  EmSetupCheckerState GetExec(const std::string& urlFile, const std::string& exec,
                              std::string& curExec);

  // Whether GLib can use the entry text, by the first things a desktop
  // checks: it loads as a key file, its first group is "Desktop Entry",
  // whose Type is "Application" and which is not Hidden. exec then receives
  // the raw value of that group's Exec key, and hasExec whether there is one.
  static bool ReadUsable(const std::string& text, bool& hasExec, std::string& exec);
  // The entry's text with every Exec line of its main group ("[Desktop
  // Entry]", wherever it stands) set to "Exec=" + exec, each line ending in
  // "\n"; lines are read as GLib reads them. Without such a line, one is
  // added after the main group's last key line (after its first header when
  // it has no key). Every other line stays byte for byte. Meant for an entry
  // that ReadUsable accepts. True when the main group had an Exec line.
  static bool RebuildEntry(const std::string& text, const std::string& exec, std::string& rebuilt);
  // Stages m_strUrlFileContent under the name tmpPath (a sealed memory
  // file; nothing is written at that path); 0 or 2.
  EmSetupCheckerState WriteTmpUrlFile(const std::string& tmpPath);
  // Copies the text staged under tmpPath into target through pkexec; 0 or 2.
  EmSetupCheckerState ReplaceUrlFile(const std::string& target, const std::string& tmpPath);

 protected:
  std::string m_strUrlFile;
  std::string m_strExec;
  std::string m_strCurExec;
  std::string m_strUrlFileContent;
  // What the reading of the entry saw (it also started the entry's watch).
  NSCheckerTool::ReadMark m_read;
  // Set when reading the entry was tried and it could not be read, or GLib
  // cannot use it; Check then reports it instead of asking for a repair.
  bool m_bUrlFileUnusable = false;
};
