#pragma once

#include "checkers/HostsChecker.h"

// Repairs the hosts file with the corrected text: the text is written to the
// temporary directory without privileges, and only the copy into the hosts
// file runs as administrator, through pkexec.
class LinuxHostsChecker : public HostsChecker {
 public:
  LinuxHostsChecker();
  ~LinuxHostsChecker() override;

  // 0 when the corrected text was written and copied into place, else 3.
  EmHostsCheckerState Repair() override;
  // Writes m_strHostsContent to tmpPath; 0, or 3 when it could not be written
  // completely.
  virtual EmHostsCheckerState WriteTmpHostsFile(const std::string& tmpPath);
  // Runs "pkexec /bin/cp <tmpPath> <target>" and removes tmpPath; 0 when
  // the copy succeeded and reached the disk, else 3.
  virtual EmHostsCheckerState ReplaceHosts(const std::string& target, const std::string& tmpPath);
};
