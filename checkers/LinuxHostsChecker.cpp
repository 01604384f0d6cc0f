#include "checkers/LinuxHostsChecker.h"

#include "common/FileIO.h"
#include "common/Repair.h"
#include "common/NSCheckerTool.h"

#include <type_traits>

HostsChecker* HostsChecker::CreateInstance() {
  // The checker made here judges lines with its base class's own
  // CheckError, so lines that name no expected domain may be passed over
  // unread.
  static_assert(
      std::is_same_v<decltype(&LinuxHostsChecker::CheckError), decltype(&HostsChecker::CheckError)>,
      "the fast walk over the hosts file needs the base class's own CheckError");
  auto* checker = new LinuxHostsChecker();
  checker->m_bOnlyNamingLines = true;
  return checker;
}

LinuxHostsChecker::LinuxHostsChecker() = default;
LinuxHostsChecker::~LinuxHostsChecker() = default;

EmHostsCheckerState LinuxHostsChecker::Repair() {
  // The corrected text of the file as it is now: the check kept none, and
  // the file may have changed since.
  switch (RebuildContent()) {
    case EmHostsOk:
      return EmHostsOk;  // right by now: nothing to copy
    case EmHostsNeedRepair:
      break;
    default:
      return EmHostsRepairFailed;
  }
  const std::string target = GetHostsFilePath();
  const std::string tmpPath = NSCheckerTool::GetOSTempPath() + "/check_hosts_tmp";
  EmHostsCheckerState result = WriteTmpHostsFile(tmpPath);
  if (result == EmHostsOk) {
    result = ReplaceHosts(target, tmpPath);
  }
  return result;
}

EmHostsCheckerState LinuxHostsChecker::WriteTmpHostsFile(const std::string& tmpPath) {
  return NSCheckerTool::StageRepairText(tmpPath, m_strHostsContent, m_read)
             ? EmHostsOk
             : EmHostsRepairFailed;
}

EmHostsCheckerState LinuxHostsChecker::ReplaceHosts(const std::string& target,
                                                    const std::string& tmpPath) {
  // Only the copy into the hosts file is privileged; pkexec asks the user
  // through polkit.
  return NSCheckerTool::InstallStagedText(tmpPath, target) ? EmHostsOk : EmHostsRepairFailed;
}
