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

std::string ClientCheckTool::CheckHosts() {
  EmHostsCheckerState repair = EmHostsOk;
  const EmHostsCheckerState check = m_pHostsChecker->Check();
  if (check == EmHostsNeedRepair) {
    repair = m_pHostsChecker->Repair();
  }
  return Row(31, GetHostsMsgByCode(check, repair));
}

std::string ClientCheckTool::CheckSetup() {
  EmSetupCheckerState repair = EmSetupOk;
  const EmSetupCheckerState check = m_pSetupChecker->Check();
  if (check == EmSetupNeedRepair) {
    repair = m_pSetupChecker->Repair();
  }
  return Row(30, GetSetupMsgByCode(check, repair));
}

std::string ClientCheckTool::CheckProxy() {
  EmProxyCheckerState repair = EmProxyOk;
  const EmProxyCheckerState check = m_pProxyChecker->Check();
  if (check == EmProxyNeedRepair) {
    repair = m_pProxyChecker->Repair();
  }
  return Row(32, GetProxyMsgByCode(check, repair));
}

std::string ClientCheckTool::CheckCertificate() { return std::string(); }
