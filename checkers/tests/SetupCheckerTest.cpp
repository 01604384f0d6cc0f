#include "checkers/LinuxAssociatedSetupChecker.h"
#include "common/NSCheckerTool.h"
#include "testsupport/TestSupport.h"

#include <sys/stat.h>
#include <unistd.h>

using namespace testsupport;

namespace {

class TestableSetupChecker : public LinuxAssociatedSetupChecker {
 public:
  using LinuxAssociatedSetupChecker::m_strCurExec;
  using LinuxAssociatedSetupChecker::m_strExec;
  using LinuxAssociatedSetupChecker::m_strUrlFile;
  using LinuxAssociatedSetupChecker::m_strUrlFileContent;
};

}  // namespace

class SetupCheckerTest : public TempDirTest {
 protected:
  // A setup section whose linux item points at the test's desktop entry.
  std::string SetupXml(const std::string& key, const char* data = "tolvane %u") const {
    return "<setup><win><item1 key=\"HKEY_CLASSES_ROOT\"/></win><linux><item1 key=\"" + key +
           "\" data=\"" + data + "\"/></linux></setup>";
  }
  EmSetupCheckerState InitWith(TestableSetupChecker& checker, const std::string& xml) {
    pugi::xml_document doc;
    return checker.Init(ParseSection(doc, xml.c_str(), "setup"));
  }
};

TEST_F(SetupCheckerTest, ReadsTheExecLineAndRebuildsTheEntry) {
  struct Case {
    const char* what;
    std::string entry;
    EmSetupCheckerState init;
    std::string found;
    EmSetupCheckerState check;
    std::string rebuilt;
  } cases[] = {
      {"right command", "[Desktop Entry]\nName=T\nExec=tolvane %u\nType=Application\n", EmSetupOk,
       "tolvane %u", EmSetupOk, "[Desktop Entry]\nName=T\nExec=tolvane %u\nType=Application\n"},
      {"field code in capitals", "[Desktop Entry]\nExec=tolvane %U\nTerminal=false\n", EmSetupOk,
       "tolvane %U", EmSetupNeedRepair, "[Desktop Entry]\nExec=tolvane %u\nTerminal=false\n"},
      {"blanks around =", "[Desktop Entry]\nExec \t= \ttolvane %u\n", EmSetupOk, "tolvane %u",
       EmSetupOk, "[Desktop Entry]\nExec=tolvane %u\n"},
      {"blank after the command", "[Desktop Entry]\nExec=tolvane %u \n", EmSetupOk, "tolvane %u ",
       EmSetupNeedRepair, "[Desktop Entry]\nExec=tolvane %u\n"},
      {"indented", "[Desktop Entry]\n  Exec=tolvane %u\n", EmSetupOk, "tolvane %u", EmSetupOk,
       "[Desktop Entry]\nExec=tolvane %u\n"},
      {"CR LF, right command", "[Desktop Entry]\r\nExec=tolvane %u\r\nType=Application\r\n",
       EmSetupOk, "tolvane %u", EmSetupOk,
       "[Desktop Entry]\r\nExec=tolvane %u\nType=Application\r\n"},
      {"CR LF, other command", "  [Desktop Entry] \r\nExec=old\r\nName=T\r\n", EmSetupOk, "old",
       EmSetupNeedRepair, "  [Desktop Entry] \r\nExec=tolvane %u\nName=T\r\n"},
      {"an action's command is its own",
       "[Desktop Entry]\nExec=tolvane-legacy %u\n\n[Desktop Action new-window]\nExec=tolvane "
       "--new-window %u\n",
       EmSetupOk, "tolvane-legacy %u", EmSetupNeedRepair,
       "[Desktop Entry]\nExec=tolvane %u\n\n[Desktop Action new-window]\nExec=tolvane "
       "--new-window %u\n"},
      {"an action does not make the entry right",
       "[Desktop Entry]\nExec=old\n[Desktop Action x]\nExec=tolvane %u\n", EmSetupOk, "old",
       EmSetupNeedRepair,
       "[Desktop Entry]\nExec=tolvane %u\n[Desktop Action x]\nExec=tolvane %u\n"},
      {"duplicate keys, the last counts", "[Desktop Entry]\nExec=tolvane %u\nExec=old\n", EmSetupOk,
       "old", EmSetupNeedRepair, "[Desktop Entry]\nExec=tolvane %u\nExec=tolvane %u\n"},
      {"main group twice", "[Desktop Entry]\nName=T\n[A]\nExec=a\n[Desktop Entry]\nExec=old\n",
       EmSetupOk, "old", EmSetupNeedRepair,
       "[Desktop Entry]\nName=T\n[A]\nExec=a\n[Desktop Entry]\nExec=tolvane %u\n"},
      {"keys that only begin with Exec",
       "[Desktop Entry]\nExecutionMode=single\nExec[de]=x\nExec=tolvane %u\nExecutable\n",
       EmSetupOk, "tolvane %u", EmSetupOk,
       "[Desktop Entry]\nExecutionMode=single\nExec[de]=x\nExec=tolvane %u\nExecutable\n"},
      {"bare Exec", "[Desktop Entry]\nExec\n", EmSetupOk, "", EmSetupNeedRepair,
       "[Desktop Entry]\nExec=tolvane %u\n"},
      {"bare Exec with blanks and CR", "[Desktop Entry]\nExec \t\r\n", EmSetupOk, "",
       EmSetupNeedRepair, "[Desktop Entry]\nExec=tolvane %u\n"},
      {"no final newline", "[Desktop Entry]\nExec=tolvane %u", EmSetupOk, "tolvane %u", EmSetupOk,
       "[Desktop Entry]\nExec=tolvane %u\n"},
      // Without an Exec line the line goes into the main group.
      {"missing, before an action group",
       "[Desktop Entry]\nName=T\n# about T\n\n[Desktop Action x]\nExec=y\n", EmSetupInitFailed, "",
       EmSetupNeedRepair,
       "[Desktop Entry]\nName=T\nExec=tolvane %u\n# about T\n\n[Desktop Action x]\nExec=y\n"},
      {"missing, only keys like it", "Exec=x\n[Desktop Entry]\nTryExec=tolvane\nExec[de]=x\n",
       EmSetupInitFailed, "", EmSetupNeedRepair,
       "Exec=x\n[Desktop Entry]\nTryExec=tolvane\nExec[de]=x\nExec=tolvane %u\n"},
      {"missing, header only", "[Desktop Entry]\r\n\n[X]\nA=b\n", EmSetupInitFailed, "",
       EmSetupNeedRepair, "[Desktop Entry]\r\nExec=tolvane %u\n\n[X]\nA=b\n"},
      {"no main group", "[Other]\nExec=x", EmSetupInitFailed, "", EmSetupNeedRepair,
       "[Other]\nExec=x\nExec=tolvane %u\n"},
      {"empty file", "", EmSetupInitFailed, "", EmSetupNeedRepair, "Exec=tolvane %u\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(Path("entry.desktop"), c.entry);
    TestableSetupChecker checker;
    EXPECT_EQ(c.init, InitWith(checker, SetupXml(Path("entry.desktop"))));
    EXPECT_EQ(Path("entry.desktop"), checker.m_strUrlFile);
    EXPECT_EQ("tolvane %u", checker.m_strExec);
    EXPECT_EQ(c.found, checker.m_strCurExec);
    EXPECT_EQ(c.check, checker.Check());
    EXPECT_EQ(c.rebuilt, checker.m_strUrlFileContent);
  }
}

TEST_F(SetupCheckerTest, AnEntryThatCannotBeReadIsNeverRepaired) {
  InstallFakePkexec();
  ASSERT_EQ(0, ::mkdir(Path("dir.desktop").c_str(), 0755));
  struct Case {
    const char* what;
    std::string xml;
  } cases[] = {
      {"missing entry", SetupXml(Path("missing.desktop"))},
      {"directory", SetupXml(Path("dir.desktop"))},
      {"item without key", "<setup><linux><item1 data=\"tolvane %u\"/></linux></setup>"},
      {"linux without item", "<setup><linux></linux></setup>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TestableSetupChecker checker;
    EXPECT_EQ(EmSetupInitFailed, InitWith(checker, c.xml));
    EXPECT_EQ(EmSetupInitFailed, checker.Check());  // shown as an internal error
    EXPECT_EQ(EmSetupRepairFailed, checker.Repair());
  }
  EXPECT_EQ("", PkexecLog());
  EXPECT_FALSE(Exists(Path("missing.desktop")));
}

TEST_F(SetupCheckerTest, NoLinuxSectionMeansNothingToCheck) {
  const char* sections[] = {"<setup><win/></setup>", "<setup/>"};
  for (const char* xml : sections) {
    SCOPED_TRACE(xml);
    TestableSetupChecker checker;
    EXPECT_EQ(EmSetupInitFailed, InitWith(checker, xml));
    EXPECT_EQ(EmSetupOk, checker.Check());
  }
  TestableSetupChecker checker;
  EXPECT_EQ(EmSetupInitFailed, checker.Init(pugi::xml_node()));
  EXPECT_EQ(EmSetupOk, checker.Check());
}

TEST_F(SetupCheckerTest, OnlyTheFirstLinuxItemCounts) {
  WriteFile(Path("a.desktop"), "[Desktop Entry]\nExec=a\n");
  TestableSetupChecker checker;
  std::string xml = "<setup><linux><x key=\"" + Path("a.desktop") +
                    "\" data=\"one\"/><y key=\"/b\" data=\"two\"/></linux></setup>";
  EXPECT_EQ(EmSetupOk, InitWith(checker, xml));
  EXPECT_EQ(Path("a.desktop"), checker.m_strUrlFile);
  EXPECT_EQ("one", checker.m_strExec);

  TestableSetupChecker textFirst;
  EXPECT_EQ(EmSetupInitFailed,
            InitWith(textFirst, "<setup><linux>text<x key=\"/a\" data=\"b\"/></linux></setup>"));
  EXPECT_EQ("", textFirst.m_strUrlFile);
  EXPECT_EQ("", textFirst.m_strExec);
}

TEST_F(SetupCheckerTest, RepairInstallsTheRebuiltEntryThroughPkexec) {
  InstallFakePkexec();
  const std::string entry =
      "[Desktop Entry]\nName=Tolvane\nExec=tolvane %U\nMimeType=x-scheme-handler/tolvane;\n";
  WriteFile(Path("entry.desktop"), entry, 0644);
  TestableSetupChecker checker;
  ASSERT_EQ(EmSetupOk, InitWith(checker, SetupXml(Path("entry.desktop"))));
  ASSERT_EQ(EmSetupNeedRepair, checker.Check());
  mode_t oldMask = ::umask(077);
  EmSetupCheckerState repaired = checker.Repair();
  ::umask(oldMask);
  EXPECT_EQ(EmSetupOk, repaired);
  EXPECT_EQ("/bin/cp -T /dev/stdin " + Path("entry.desktop") + "\n", PkexecLog());
  EXPECT_EQ("[Desktop Entry]\nName=Tolvane\nExec=tolvane %u\nMimeType=x-scheme-handler/tolvane;\n",
            ReadFile(Path("entry.desktop")));
  EXPECT_EQ(0644u, ModeOf(Path("entry.desktop")));
}

TEST_F(SetupCheckerTest, ARefusedRepairLeavesTheEntryAlone) {
  InstallFakePkexec();
  WriteFile(Path("entry.desktop"), "[Desktop Entry]\nExec=old\n");
  EXPECT_TRUE(InChild([&] {  // a refusal lasts for the process
    ::setenv("FAKE_PKEXEC_REFUSE", "1", 1);
    TestableSetupChecker checker;
    return InitWith(checker, SetupXml(Path("entry.desktop"))) == EmSetupOk &&
           checker.Check() == EmSetupNeedRepair && checker.Repair() == EmSetupRepairFailed;
  }));
  EXPECT_EQ("[Desktop Entry]\nExec=old\n", ReadFile(Path("entry.desktop")));
}
