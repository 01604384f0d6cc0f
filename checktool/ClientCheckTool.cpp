#include "checktool/ClientCheckTool.h"

ClientCheckTool::ClientCheckTool() {
  m_pHostsChecker = HostsChecker::CreateInstance();
  if (m_pHostsChecker == nullptr) {
    return;
  }
  m_pSetupChecker = AssociatedSetupChecker::CreateInstance();
  if (m_pSetupChecker == nullptr) {
    HostsChecker::DestroyInstance(m_pHostsChecker);
    return;
  }
  m_pProxyChecker = ProxyChecker::CreateInstance();
  if (m_pProxyChecker == nullptr) {
    HostsChecker::DestroyInstance(m_pHostsChecker);
    AssociatedSetupChecker::DestroyInstance(m_pSetupChecker);
    return;
  }
  m_strLan = GetLan();
  m_bInited = true;
}

ClientCheckTool::~ClientCheckTool() {
  HostsChecker::DestroyInstance(m_pHostsChecker);
  AssociatedSetupChecker::DestroyInstance(m_pSetupChecker);
  ProxyChecker::DestroyInstance(m_pProxyChecker);
}

bool ClientCheckTool::LoadCfg(const std::string& lan, const std::string& cfg, bool fromFile) {
  if (!m_bInited) {
    return false;
  }
  m_strLan = lan;
  pugi::xml_document doc;
  pugi::xml_parse_result parsed = fromFile ? doc.load_file(cfg.c_str(), pugi::parse_default)
                                           : doc.load_string(cfg.c_str(), pugi::parse_default);
  if (parsed.status != pugi::status_ok) {
    return false;
  }
  // A checker whose section is missing or incomplete still runs its check;
  // what it answers then shows in its row.
  LoadHosts(doc);
  LoadSetup(doc);
  LoadProxy(doc);
  return true;
}

bool ClientCheckTool::LoadHosts(const pugi::xml_document& doc) {
  return m_pHostsChecker->Init(doc.child("hosts")) == EmHostsOk;
}

bool ClientCheckTool::LoadSetup(const pugi::xml_document& doc) {
  return m_pSetupChecker->Init(doc.child("setup")) == EmSetupOk;
}

bool ClientCheckTool::LoadProxy(const pugi::xml_document& doc) {
  return m_pProxyChecker->Init(doc.child("proxy")) == EmProxyOk;
}

// One row: check, repair only on code 1, render the pair of codes with the
// family's own status-cell operation.
template <typename Checker, typename Code>
std::string ClientCheckTool::CheckRow(Checker* checker, int labelId,
                                      std::string (ClientCheckTool::*cells)(Code, Code)) {
  Code repair = static_cast<Code>(0);
  const Code check = checker->Check();
  if (check == 1) {
    repair = checker->Repair();
  }
  return Row(labelId, (this->*cells)(check, repair));
}

std::string ClientCheckTool::CheckHosts() {
  return CheckRow(m_pHostsChecker, 31, &ClientCheckTool::GetHostsMsgByCode);
}

std::string ClientCheckTool::CheckSetup() {
  return CheckRow(m_pSetupChecker, 30, &ClientCheckTool::GetSetupMsgByCode);
}

std::string ClientCheckTool::CheckProxy() {
  return CheckRow(m_pProxyChecker, 32, &ClientCheckTool::GetProxyMsgByCode);
}

std::string ClientCheckTool::CheckCertificate() { return std::string(); }
