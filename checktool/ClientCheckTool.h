#pragma once

#include "checkers/AssociatedSetupChecker.h"
#include "checkers/HostsChecker.h"
#include "checkers/ProxyChecker.h"

#include <pugixml.hpp>

#include <string>

// The language code of the user's locale: "cs" when LANG, as the shell prints
// it, starts with "zh" in any case, else "en".
std::string GetLan();

// Owns one checker of each family, hands each its configuration section, runs
// the checks in report order (repairing after every check that answers 1) and
// renders the report table.
class ClientCheckTool {
 public:
  ClientCheckTool();
  virtual ~ClientCheckTool();
  ClientCheckTool(const ClientCheckTool&) = delete;
  ClientCheckTool& operator=(const ClientCheckTool&) = delete;

  // The report text, or "No inited.\n" when the checkers could not be made.
  virtual std::string Check();
  // Stores the language, parses the configuration (text, or a file when
  // fromFile is true) and hands its sections to the checkers; false when not
  // initialised or the document does not parse.
  virtual bool LoadCfg(const std::string& lan, const std::string& cfg, bool fromFile);
  virtual bool LoadHosts(const pugi::xml_document& doc);
  virtual bool LoadSetup(const pugi::xml_document& doc);
  virtual bool LoadProxy(const pugi::xml_document& doc);
  // One table row each: check, repair on code 1, render.
  virtual std::string CheckHosts();
  virtual std::string CheckSetup();
  virtual std::string CheckProxy();
  // Reserved: adds no row.
  virtual std::string CheckCertificate();
  // The three status cells of a row for a (check, repair) pair.
  virtual std::string GetHostsMsgByCode(EmHostsCheckerState check, EmHostsCheckerState repair);
  virtual std::string GetSetupMsgByCode(EmSetupCheckerState check, EmSetupCheckerState repair);
  virtual std::string GetProxyMsgByCode(EmProxyCheckerState check, EmProxyCheckerState repair);

  // The text of a message id in the current language; empty outside 0..36.
  std::string GetString(int id) const;

 protected:
  bool m_bInited = false;
  HostsChecker* m_pHostsChecker = nullptr;
  AssociatedSetupChecker* m_pSetupChecker = nullptr;
  ProxyChecker* m_pProxyChecker = nullptr;
  std::string m_strLan;

 private:
  template <typename Checker, typename Code>
  std::string CheckRow(Checker* checker, int labelId,
                       std::string (ClientCheckTool::*cells)(Code, Code));
  std::string StatusCells(int check, int repair) const;
  std::string Row(int labelId, const std::string& cells) const;
};
