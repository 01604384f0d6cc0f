#include "checktool/ClientCheckTool.h"
#include "checktool/DefaultConfig.h"
#include "testsupport/StubCheckers.h"
#include "testsupport/TestSupport.h"

#include <unistd.h>

using namespace testsupport;

class ClientCheckToolTest : public TempDirTest {};

TEST_F(ClientCheckToolTest, RendersTheReportByteForByte) {
  SCOPED_TRACE(kWordsFrom);
  TestableTool tool;
  StubHosts* hosts = tool.UseHosts(1, 0);
  StubSetup* setup = tool.UseSetup(0, 0);
  tool.SetLan("en");
  EXPECT_EQ(ReportText(Cells::Repaired, Cells::Correct), tool.Check());
  EXPECT_EQ(1, hosts->m_nRepairs);
  EXPECT_EQ(0, setup->m_nRepairs);

  tool.SetLan("cs");
  EXPECT_EQ(ReportText(Cells::Repaired, Cells::Correct, true), tool.Check());
}

TEST_F(ClientCheckToolTest, RepairsOnlyAfterCheckCodeOne) {
  for (int code : {0, 1, 2, 3, 4, -1}) {
    SCOPED_TRACE(code);
    TestableTool tool;
    StubHosts* hosts = tool.UseHosts(code, 3);
    StubSetup* setup = tool.UseSetup(code, 2);
    const std::string report = tool.Check();
    EXPECT_EQ(code == 1 ? 1 : 0, hosts->m_nRepairs);
    EXPECT_EQ(code == 1 ? 1 : 0, setup->m_nRepairs);
    // Always the two rows, hosts first; the header row is never closed.
    EXPECT_EQ(2u, [&] {
      std::size_t rows = 0;
      for (std::size_t at = report.find("</tr>\n"); at != std::string::npos;
           at = report.find("</tr>\n", at + 1)) {
        ++rows;
      }
      return rows;
    }());
    EXPECT_LT(report.find(tool.GetString(31)), report.find(tool.GetString(30)));
    EXPECT_EQ(0u, report.rfind("<table", 0));
    EXPECT_EQ(report.size() - 14, report.find("</table><br/>\n"));
  }
}

TEST_F(ClientCheckToolTest, StatusCellsForEveryPairOfCodes) {
  SCOPED_TRACE(kWordsFrom);
  const std::string correct = StatusCells(Cells::Correct);
  const std::string repaired = StatusCells(Cells::Repaired);
  const std::string failed = StatusCells(Cells::Failed);
  const std::string internal = StatusCells(Cells::Internal);
  struct Case {
    int check, repair;
    const std::string& cells;
  } cases[] = {
      {0, 0, correct}, {0, 3, correct},  {1, 0, repaired}, {1, 2, failed},   {1, 3, failed},
      {1, -1, failed}, {2, 0, internal}, {3, 0, internal}, {4, 1, internal}, {-1, 0, internal},
  };
  TestableTool tool;
  tool.SetLan("en");
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.check) + "," + std::to_string(c.repair));
    EXPECT_EQ(c.cells, tool.GetHostsMsgByCode(static_cast<EmHostsCheckerState>(c.check),
                                              static_cast<EmHostsCheckerState>(c.repair)));
    EXPECT_EQ(c.cells, tool.GetSetupMsgByCode(static_cast<EmSetupCheckerState>(c.check),
                                              static_cast<EmSetupCheckerState>(c.repair)));
    EXPECT_EQ(c.cells, tool.GetProxyMsgByCode(static_cast<EmProxyCheckerState>(c.check),
                                              static_cast<EmProxyCheckerState>(c.repair)));
  }
  EXPECT_EQ("", tool.CheckCertificate());
  EXPECT_EQ("<tr>\n<td width=\"180\">" + Word(32) + "</td>\n" + correct + "</tr>\n",
            tool.CheckProxy());
}

// Which texts a language code selects, and the ids outside the catalogue.
TEST_F(ClientCheckToolTest, CatalogueInBothLanguages) {
  SCOPED_TRACE(kWordsFrom);
  struct Case {
    const char* lan;
    int id;
    std::string text;
  } cases[] = {
      {"cs", 37, ""},      {"en", 37, ""},      {"cs", -1, ""},     {"en", -1, ""},
      {"zh", 3, Word(3)},  {"CS", 3, Word(3)},  {"cs ", 3, Word(3)}, {"", 3, Word(3)},
      {"de", 3, Word(3)},  {"en", 3, Word(3)},  {"cs", 3, Word(3, true)},
  };
  TestableTool tool;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.lan) + " " + std::to_string(c.id));
    tool.SetLan(c.lan);
    EXPECT_EQ(c.text, tool.GetString(c.id));
  }
}

// Every text of the catalogue, in both languages, as the client has always
// shown them (the English texts of 12 and 13 are our own); none holds
// markup.
TEST_F(ClientCheckToolTest, EveryTextOfTheCatalogue) {
  SCOPED_TRACE(kWordsFrom);
  TestableTool tool;
  for (int id = 0; id <= 36; ++id) {
    SCOPED_TRACE(id);
    for (const bool chinese : {true, false}) {
      tool.SetLan(chinese ? "cs" : "en");
      const std::string text = tool.GetString(id);
      EXPECT_EQ(Word(id, chinese), text);
      EXPECT_FALSE(text.empty());
      EXPECT_EQ(std::string::npos, text.find_first_of("<>&"));
    }
  }
}

TEST_F(ClientCheckToolTest, DefaultLanguageFollowsLangThroughTheShell) {
  struct Case {
    const char* lang;
    const char* code;
  } cases[] = {
      {"zh_CN.UTF-8", "cs"},
      {"ZH_cn", "cs"},
      {"zh_TW.UTF-8", "cs"},
      {"  zh_CN", "cs"},
      {"en_US.UTF-8", "en"},
      {"z", "en"},
      {"", "en"},
      {nullptr, "en"},
      {"z?_*", "en"},  // a value, not a pattern: the file zh_CN below is not read
      {"$(echo zh)", "en"},
  };
  // In a folder that holds a file a pattern would find.
  WriteFile(Path("zh_CN"), "");
  char cwd[4096];
  ASSERT_NE(nullptr, ::getcwd(cwd, sizeof cwd));
  ASSERT_EQ(0, ::chdir(m_strTmpDir.c_str()));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lang ? c.lang : "(unset)");
    SetEnv("LANG", c.lang);
    EXPECT_EQ(c.code, GetLan());
    TestableTool tool;
    EXPECT_EQ(c.code, tool.Lan());
  }
  EXPECT_EQ(0, ::chdir(cwd));
}

TEST_F(ClientCheckToolTest, LoadCfgStoresTheLanguageBeforeParsing) {
  TestableTool tool;
  EXPECT_FALSE(tool.LoadCfg("cs", "this is not xml <", false));
  EXPECT_EQ("cs", tool.Lan());
  EXPECT_FALSE(tool.LoadCfg("en", "", false));
  EXPECT_FALSE(tool.LoadCfg("en", "  <!-- only a comment -->  ", false));
  EXPECT_FALSE(tool.LoadCfg("en", Path("missing.xml"), true));
  EXPECT_TRUE(tool.LoadCfg("x", "<other/>", false));
  EXPECT_EQ("x", tool.Lan());
  WriteFile(Path("cfg.xml"), "<?xml version=\"1.0\"?><proxy a=\"1\"/><hosts/>");
  EXPECT_TRUE(tool.LoadCfg("en", Path("cfg.xml"), true));

  tool.Uninitialise();
  EXPECT_FALSE(tool.LoadCfg("cs", "<hosts/>", false));
  EXPECT_EQ("", tool.Lan());
  EXPECT_EQ("No inited.\n", tool.Check());
}

TEST_F(ClientCheckToolTest, DefaultConfigurationNamesTheProductDomainAndHandler) {
  EXPECT_EQ(std::string::npos, g_strXml.find('\n'));
  for (unsigned char c : g_strXml) {
    EXPECT_LT(c, 0x80);
  }
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_string(g_strXml.c_str(), pugi::parse_default));
  pugi::xml_node hosts = doc.child("hosts");
  EXPECT_EQ(std::string("local.tolvane.com"), hosts.child("hosts1").attribute("domain").value());
  EXPECT_EQ(std::string("127.0.0.1"), hosts.child("hosts1").attribute("ip").value());
  EXPECT_EQ(1, std::distance(hosts.children().begin(), hosts.children().end()));
  pugi::xml_node item = doc.child("setup").child("linux").first_child();
  EXPECT_EQ(std::string("item1"), item.name());
  EXPECT_EQ(std::string("/usr/share/applications/tolvane-url.desktop"),
            item.attribute("key").value());
  EXPECT_EQ(std::string("tolvane %u"), item.attribute("data").value());
  pugi::xml_node win = doc.child("setup").child("win");
  EXPECT_EQ(std::string("%s\\shell\\open\\command"),
            win.child("item1").attribute("sub_key").value());
  EXPECT_EQ(std::string("%s-watch.exe %%1"), win.child("item1").attribute("data").value());
  EXPECT_EQ(std::string("URL:%s Protocol"), win.child("item2").attribute("data").value());
  EXPECT_FALSE(win.child("item3").attribute("data").empty());
  EXPECT_EQ(std::string("url_protocol"), win.child("item3").attribute("wtag").value());
  EXPECT_FALSE(doc.child("proxy"));
}
