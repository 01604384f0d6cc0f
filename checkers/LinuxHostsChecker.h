#pragma once

#include "checkers/HostsChecker.h"

// Repairs the hosts file with the corrected text: the text is staged in a
// sealed memory file without privileges, and only the copy into the hosts
// file runs as administrator, through pkexec. The staged text is known by
// the name of the temporary file it replaces; nothing is written there.
class LinuxHostsChecker : public HostsChecker {
 public:
  LinuxHostsChecker();
  ~LinuxHostsChecker() override;

  // 0 when the corrected text was written and copied into place, else 3.
  EmHostsCheckerState Repair() override;
  // Stages m_strHostsContent under the name tmpPath; 0, or 3 when it could
  // not be staged whole or no repair may start.
  virtual EmHostsCheckerState WriteTmpHostsFile(const std::string& tmpPath);
  // Copies the text staged under tmpPath into target through pkexec; 0 when
  // the copy succeeded and reached the disk, else 3.
  virtual EmHostsCheckerState ReplaceHosts(const std::string& target, const std::string& tmpPath);
};
