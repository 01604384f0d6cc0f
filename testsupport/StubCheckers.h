#pragma once

#include "checktool/ClientCheckTool.h"

#include <string>

// Checkers that answer fixed codes and count their repairs, and a check tool
// that can be given them: for rendering reports of any outcome.
class StubHosts : public HostsChecker {
 public:
  StubHosts(int check, int repair) : m_nCheck(check), m_nRepair(repair) {}
  EmHostsCheckerState Check() override { return static_cast<EmHostsCheckerState>(m_nCheck); }
  EmHostsCheckerState Repair() override {
    ++m_nRepairs;
    return static_cast<EmHostsCheckerState>(m_nRepair);
  }
  int m_nCheck, m_nRepair, m_nRepairs = 0;
};

class StubSetup : public AssociatedSetupChecker {
 public:
  StubSetup(int check, int repair) : m_nCheck(check), m_nRepair(repair) {}
  EmSetupCheckerState Init(const pugi::xml_node&) override { return EmSetupOk; }
  EmSetupCheckerState Check() override { return static_cast<EmSetupCheckerState>(m_nCheck); }
  EmSetupCheckerState Repair() override {
    ++m_nRepairs;
    return static_cast<EmSetupCheckerState>(m_nRepair);
  }
  int m_nCheck, m_nRepair, m_nRepairs = 0;
};

class TestableTool : public ClientCheckTool {
 public:
  StubHosts* UseHosts(int check, int repair) {
    auto* stub = new StubHosts(check, repair);
    HostsChecker::DestroyInstance(m_pHostsChecker);
    m_pHostsChecker = stub;
    return stub;
  }
  StubSetup* UseSetup(int check, int repair) {
    auto* stub = new StubSetup(check, repair);
    AssociatedSetupChecker::DestroyInstance(m_pSetupChecker);
    m_pSetupChecker = stub;
    return stub;
  }
  void SetLan(const std::string& lan) { m_strLan = lan; }
  const std::string& Lan() const { return m_strLan; }
  // As if a factory had failed: no checkers, not initialised.
  void Uninitialise() {
    HostsChecker::DestroyInstance(m_pHostsChecker);
    AssociatedSetupChecker::DestroyInstance(m_pSetupChecker);
    ProxyChecker::DestroyInstance(m_pProxyChecker);
    m_bInited = false;
    m_strLan.clear();
  }
};
