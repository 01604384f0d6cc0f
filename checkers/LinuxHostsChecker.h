#pragma once

#include "checkers/HostsChecker.h"

// Replaces the hosts file with the corrected text: the text is written to the
// temporary directory without privileges, and only the move over the hosts
// file runs as administrator, through pkexec.
class LinuxHostsChecker : public HostsChecker {
 public:
  LinuxHostsChecker();
  ~LinuxHostsChecker() override;

  // 0 when the corrected text was written and moved into place, else 3.
  EmHostsCheckerState Repair() override;
  // Writes m_strHostsContent to tmpPath; 0, or 3 when it could not be written
  // completely.
  virtual EmHostsCheckerState WriteTmpHostsFile(const std::string& tmpPath);
  // Runs "pkexec mv <tmpPath> <target>"; 0 when it succeeded, else 3.
  virtual EmHostsCheckerState ReplaceHosts(const std::string& target, const std::string& tmpPath);
};
