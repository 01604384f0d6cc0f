#include "checktool/ClientCheckTool.h"
#include "checktool/DefaultConfig.h"
#include "testsupport/StubCheckers.h"
#include "testsupport/TestSupport.h"

#include <unistd.h>

using namespace testsupport;

namespace {

const char kWorkedExample[] =
    "<table border=\"1\" align=\"center\" cellspacing=\"0\" cellpadding=\"8\">\n"
    "<tr>\n"
    "<th id=textcenter>Name</th>\n"
    "<th id=textcenter>Check result</th>\n"
    "<th id=textcenter>Repair result</th>\n"
    "<th id=textcenter>Comment</th>\n"
    "<tr>\n"
    "<td width=\"180\">Domain Name</td>\n"
    "<td id=textcenter width=\"100\"><font color=\"red\">Error</font></td>\n"
    "<td id=textcenter width=\"100\"><font color=\"#008000\">Success</font></td>\n"
    "<td id=textcenter width=\"100\"></td>\n"
    "</tr>\n"
    "<tr>\n"
    "<td width=\"180\">App Setup</td>\n"
    "<td id=textcenter width=\"100\"><font color=\"#008000\">Correct</font></td>\n"
    "<td id=textcenter></td>\n"
    "<td id=textcenter width=\"100\"></td>\n"
    "</tr>\n"
    "</table><br/>\n";

const char kWorkedExampleChinese[] =
    "<table border=\"1\" align=\"center\" cellspacing=\"0\" cellpadding=\"8\">\n"
    "<tr>\n"
    "<th id=textcenter>名称</th>\n"
    "<th id=textcenter>检测结果</th>\n"
    "<th id=textcenter>修复结果</th>\n"
    "<th id=textcenter>备注</th>\n"
    "<tr>\n"
    "<td width=\"180\">本地域名解析</td>\n"
    "<td id=textcenter width=\"100\"><font color=\"red\">异常</font></td>\n"
    "<td id=textcenter width=\"100\"><font color=\"#008000\">成功</font></td>\n"
    "<td id=textcenter width=\"100\"></td>\n"
    "</tr>\n"
    "<tr>\n"
    "<td width=\"180\">程序启动项</td>\n"
    "<td id=textcenter width=\"100\"><font color=\"#008000\">正常</font></td>\n"
    "<td id=textcenter></td>\n"
    "<td id=textcenter width=\"100\"></td>\n"
    "</tr>\n"
    "</table><br/>\n";

}  // namespace

class ClientCheckToolTest : public TempDirTest {};

TEST_F(ClientCheckToolTest, RendersTheReportByteForByte) {
  TestableTool tool;
  StubHosts* hosts = tool.UseHosts(1, 0);
  StubSetup* setup = tool.UseSetup(0, 0);
  tool.SetLan("en");
  const std::string report = tool.Check();
  EXPECT_EQ(609u, report.size());
  EXPECT_EQ(kWorkedExample, report);
  EXPECT_EQ(1, hosts->m_nRepairs);
  EXPECT_EQ(0, setup->m_nRepairs);

  tool.SetLan("cs");
  EXPECT_EQ(kWorkedExampleChinese, tool.Check());
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
  const std::string green = "<td id=textcenter width=\"100\"><font color=\"#008000\">";
  const std::string red = "<td id=textcenter width=\"100\"><font color=\"red\">";
  const std::string end = "</font></td>\n";
  const std::string empty = "<td id=textcenter width=\"100\"></td>\n";
  const std::string correct = green + "Correct" + end + "<td id=textcenter></td>\n" + empty;
  const std::string repaired = red + "Error" + end + green + "Success" + end + empty;
  const std::string failed = red + "Error" + end + red + "Defeated" + end + empty;
  const std::string internal = red + "Error" + end + red + "Defeated" + end +
                               "<td id=textcenter width=\"100\">Internal error</td>\n";
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
  EXPECT_EQ("<tr>\n<td width=\"180\">Proxy</td>\n" + correct + "</tr>\n", tool.CheckProxy());
}

TEST_F(ClientCheckToolTest, CatalogueInBothLanguages) {
  struct Case {
    const char* lan;
    int id;
    const char* text;
  } cases[] = {
      {"cs", 0, "错误检测报告"},
      {"en", 0, "Error report"},
      {"cs", 1, "生成时间："},
      {"en", 1, "Time:"},
      {"cs", 22, "   版本号："},
      {"en", 22, "   Version:"},
      {"en", 12, "Server address"},
      {"en", 13, "Server port"},
      {"en", 14, "Vexholm address"},
      {"en", 33, "Creatificate"},
      {"en", 35, "Defeated"},
      {"cs", 36, "内部错误"},
      {"en", 36, "Internal error"},
      {"cs", 37, ""},
      {"en", 37, ""},
      {"cs", -1, ""},
      {"en", -1, ""},
      {"zh", 3, "Correct"},
      {"CS", 3, "Correct"},
      {"cs ", 3, "Correct"},
      {"", 3, "Correct"},
      {"cs", 3, "正常"},
  };
  TestableTool tool;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.lan) + " " + std::to_string(c.id));
    tool.SetLan(c.lan);
    EXPECT_EQ(c.text, tool.GetString(c.id));
  }
  for (const char* lan : {"cs", "en"}) {
    tool.SetLan(lan);
    for (int id = 0; id <= 36; ++id) {
      const std::string text = tool.GetString(id);
      EXPECT_FALSE(text.empty()) << id;
      EXPECT_EQ(std::string::npos, text.find_first_of("<>&")) << id;
    }
  }
}

// Every text of the catalogue, in both languages, as the client has always
// shown them (the English texts of 12 and 13 are our own).
TEST_F(ClientCheckToolTest, EveryTextOfTheCatalogue) {
  struct Text {
    int id;
    const char* chinese;
    const char* english;
  } texts[] = {
      {0, "错误检测报告", "Error report"},
      {1, "生成时间：", "Time:"},
      {2, "程序版本：", "Client version:"},
      {3, "正常", "Correct"},
      {4, "异常", "Error"},
      {5, "启用压缩", "Enable compression"},
      {6, "最大上传数量", "Max upload"},
      {7, "最大下载数量", "Max download"},
      {8, "最大上传速度", "Max upload speed"},
      {9, "最大下载速度", "Max download speed"},
      {10, "当前外网IP", "Wan IP"},
      {11, "服务器域名", "Server domain name"},
      {12, "服务器地址", "Server address"},
      {13, "服务器端口", "Server port"},
      {14, "Vexholm地址", "Vexholm address"},
      {15, "Vexholm端口", "Vexholm port"},
      {16, "Vexholm端口(SSL)", "Vexholm port(SSL)"},
      {17, "用户名", "User name"},
      {18, "程序最近触发的异常", "Recent errors"},
      {19, "是", "Yes"},
      {20, "否", "No"},
      {21, "系统版本：", "System version:"},
      {22, "   版本号：", "   Version:"},
      {23, "Websocket端口", "Websocket port"},
      {24, "时间", "Date"},
      {25, "异常信息", "Errors"},
      {26, "名称", "Name"},
      {27, "检测结果", "Check result"},
      {28, "修复结果", "Repair result"},
      {29, "备注", "Comment"},
      {30, "程序启动项", "App Setup"},
      {31, "本地域名解析", "Domain Name"},
      {32, "代理", "Proxy"},
      {33, "证书有效性", "Creatificate"},
      {34, "成功", "Success"},
      {35, "失败", "Defeated"},
      {36, "内部错误", "Internal error"},
  };
  TestableTool tool;
  for (const Text& t : texts) {
    SCOPED_TRACE(t.id);
    tool.SetLan("cs");
    EXPECT_EQ(t.chinese, tool.GetString(t.id));
    tool.SetLan("en");
    EXPECT_EQ(t.english, tool.GetString(t.id));
  }
  EXPECT_EQ(37u, sizeof texts / sizeof texts[0]);
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
