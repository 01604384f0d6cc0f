// Loading arbitrary text as the configuration. Properties: LoadCfg answers
// true exactly when the XML library accepts the text, stores the language
// either way, and hands the checkers what the document says: every complete
// hosts item (the first of each domain), and the first linux item's key and
// data, however often it is called. The desktop entry is not read here: arbitrary paths are not
// files to open while fuzzing.
#include "checkers/LinuxAssociatedSetupChecker.h"
#include "checkers/LinuxHostsChecker.h"
#include "checktool/ClientCheckTool.h"

#include "fuzz/FuzzSupport.h"

#include <cstdint>
#include <map>

using fuzzsupport::Require;

namespace {

class SeenHosts : public LinuxHostsChecker {
 public:
  using HostsChecker::m_mapHosts;
};

class SeenSetup : public LinuxAssociatedSetupChecker {
 public:
  EmSetupCheckerState Init(const pugi::xml_node& section) override {
    m_strUrlFile.clear();  // one tool serves every input
    m_strExec.clear();
    return GetCfg(section.child("linux"), m_strUrlFile, m_strExec);
  }
  using LinuxAssociatedSetupChecker::m_strExec;
  using LinuxAssociatedSetupChecker::m_strUrlFile;
};

class FuzzTool : public ClientCheckTool {
 public:
  FuzzTool() {
    HostsChecker::DestroyInstance(m_pHostsChecker);
    AssociatedSetupChecker::DestroyInstance(m_pSetupChecker);
    m_pHostsChecker = m_pHosts = new SeenHosts;
    m_pSetupChecker = m_pSetup = new SeenSetup;
  }
  const std::string& Lan() const { return m_strLan; }
  SeenHosts* m_pHosts;
  SeenSetup* m_pSetup;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  // Made once: its constructor asks the shell for LANG.
  static FuzzTool tool;
  const bool loaded = tool.LoadCfg("cs", text, false);
  Require(tool.Lan() == "cs", "the language is stored");

  pugi::xml_document doc;
  const bool parsed = doc.load_string(text.c_str(), pugi::parse_default).status == pugi::status_ok;
  Require(loaded == parsed, "LoadCfg answers whether the text parses");
  if (!parsed) {
    return 0;
  }

  std::map<std::string, std::string> hosts;
  for (pugi::xml_node item = doc.child("hosts").first_child(); item; item = item.next_sibling()) {
    const std::string domain = item.attribute("domain").value();
    const std::string ip = item.attribute("ip").value();
    if (!domain.empty() && !ip.empty() && hosts.count(domain) == 0) {
      hosts[domain] = ip;
    }
  }
  Require(tool.m_pHosts->m_mapHosts == hosts, "the hosts checker has every complete item");

  const pugi::xml_node linuxItem = doc.child("setup").child("linux").first_child();
  Require(tool.m_pSetup->m_strUrlFile == linuxItem.attribute("key").value(), "the entry's path");
  Require(tool.m_pSetup->m_strExec == linuxItem.attribute("data").value(), "the entry's command");
  return 0;
}
