#pragma once

#include "checkers/AssociatedSetupChecker.h"

#include <string>

// Checks the Exec line of the client's URL-handler desktop entry and installs
// a corrected entry through pkexec (see NSCheckerTool::CopyCommand). The entry is read once, by
// Init; Check and Repair work on what Init kept.
class LinuxAssociatedSetupChecker : public AssociatedSetupChecker {
 public:
  LinuxAssociatedSetupChecker();
  ~LinuxAssociatedSetupChecker() override;

  // 0, or 3 when the linux item is missing, the entry cannot be read or it
  // has no Exec line.
  EmSetupCheckerState Init(const pugi::xml_node& section) override;
  // 0 when the found command equals the configured one, 1 when it differs,
  // 3 when the entry could not be read (there is nothing sound to install).
  EmSetupCheckerState Check() override;
  // 0 when the rebuilt entry was written and copied into place, else 2.
  EmSetupCheckerState Repair() override;

  // Copies key and data of the linux element's first child; 3 for a null node.
  EmSetupCheckerState GetCfg(const pugi::xml_node& linuxNode, std::string& urlFile,
                             std::string& exec);
  // Reads the entry, takes the command of its last Exec line into curExec and
  // builds m_strUrlFileContent; 0, or 3 when unreadable or without Exec line.
  EmSetupCheckerState GetExec(const std::string& urlFile, const std::string& exec,
                              std::string& curExec);
  // The entry's text as the desktop reads it, with every Exec line of its
  // main group ("[Desktop Entry]") set to "Exec=" + exec, each line ending in
  // "\n". An Exec line reads "Exec", optional blanks, then "=" or the end of
  // the line, after optional leading white space; its command follows the
  // "=" with leading white space skipped (a final CR is not part of it).
  // curExec receives the command of the last one. Without one, the line is
  // added after the main group's last key line (at the end when there is no
  // main group). Other groups, comments and keys such as ExecutionMode or
  // Exec[de] stay byte for byte. True when the main group had an Exec line.
  static bool RebuildEntry(const std::string& text, const std::string& exec, std::string& curExec,
                           std::string& rebuilt);
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
  // Set when reading the entry was tried and failed; Check then refuses to
  // ask for a repair that would install an empty or made-up entry.
  bool m_bUrlFileUnreadable = false;
};
