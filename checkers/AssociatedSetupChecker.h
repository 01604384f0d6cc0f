#pragma once

#include <pugixml.hpp>

// Result codes of the URL-association ("setup") family. 2 and 3 stand the
// other way round from the hosts family.
enum [[nodiscard]] EmSetupCheckerState : int{
    EmSetupOk = 0,
    EmSetupNeedRepair = 1,
    EmSetupRepairFailed = 2,
    EmSetupInitFailed = 3,
};

// Makes sure the desktop entry that registers the client's URL handler runs
// the configured command.
class AssociatedSetupChecker {
 public:
  virtual ~AssociatedSetupChecker();
  AssociatedSetupChecker(const AssociatedSetupChecker&) = delete;
  AssociatedSetupChecker& operator=(const AssociatedSetupChecker&) = delete;

  // Takes the entry's path and command from the setup section and reads the
  // entry.
  virtual EmSetupCheckerState Init(const pugi::xml_node& section) = 0;
  // 0 when the entry runs the configured command, 1 when it must be repaired.
  virtual EmSetupCheckerState Check() = 0;
  // Installs the corrected entry; 0 or 2.
  virtual EmSetupCheckerState Repair() = 0;

  static AssociatedSetupChecker* CreateInstance();
  static void DestroyInstance(AssociatedSetupChecker*& checker);

 protected:
  AssociatedSetupChecker();
};
