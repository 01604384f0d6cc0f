#include "checkers/LinuxHostsChecker.h"

#include "common/FileIO.h"
#include "common/NSCheckerTool.h"

LinuxHostsChecker::LinuxHostsChecker() = default;
LinuxHostsChecker::~LinuxHostsChecker() = default;

EmHostsCheckerState LinuxHostsChecker::Repair() {
  const std::string target = GetHostsFilePath();
  const std::string tmpPath = NSCheckerTool::GetOSTempPath() + "/check_hosts_tmp";
  EmHostsCheckerState result = WriteTmpHostsFile(tmpPath);
  if (result == EmHostsOk) {
    result = ReplaceHosts(target, tmpPath);
  }
  return result;
}

EmHostsCheckerState LinuxHostsChecker::WriteTmpHostsFile(const std::string& tmpPath) {
  return NSCheckerTool::StageRepairText(tmpPath, m_strHostsContent) ? EmHostsOk
                                                                    : EmHostsRepairFailed;
}

EmHostsCheckerState LinuxHostsChecker::ReplaceHosts(const std::string& target,
                                                    const std::string& tmpPath) {
  // Only the copy into the hosts file is privileged; pkexec asks the user
  // through polkit.
  return NSCheckerTool::InstallStagedText(tmpPath, target) ? EmHostsOk : EmHostsRepairFailed;
}
