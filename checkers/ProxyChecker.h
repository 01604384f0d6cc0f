#pragma once

#include <pugixml.hpp>

// Result codes of the proxy family; only 0 is ever produced.
enum [[nodiscard]] EmProxyCheckerState : int{
    EmProxyOk = 0,
    EmProxyNeedRepair = 1,
};

// The proxy family: reserved, it checks nothing on Linux.
class ProxyChecker {
 public:
  virtual ~ProxyChecker();
  ProxyChecker(const ProxyChecker&) = delete;
  ProxyChecker& operator=(const ProxyChecker&) = delete;

  // Ignores the section; always 0.
  virtual EmProxyCheckerState Init(const pugi::xml_node& section);
  virtual EmProxyCheckerState Check() = 0;
  virtual EmProxyCheckerState Repair() = 0;

  static ProxyChecker* CreateInstance();
  static void DestroyInstance(ProxyChecker*& checker);

 protected:
  ProxyChecker();
};
