#pragma once

#include "checkers/ProxyChecker.h"

// On Linux there is no proxy setting to check: every operation succeeds.
class LinuxProxyChecker : public ProxyChecker {
 public:
  LinuxProxyChecker();
  ~LinuxProxyChecker() override;

  EmProxyCheckerState Init(const pugi::xml_node& section) override;
  EmProxyCheckerState Check() override;
  EmProxyCheckerState Repair() override;
};
