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

// Entries GLib can use: the command found is the main group's Exec value as
// GLib reads it; the rebuild changes only main-group Exec lines and is then
// found Correct.
TEST_F(SetupCheckerTest, ReadsTheExecValueAsGLibDoesAndRebuildsTheEntry) {
  using namespace std::string_literals;
  const std::string head = "[Desktop Entry]\nType=Application\n";
  struct Case {
    const char* what;
    std::string entry;
    EmSetupCheckerState init;
    std::string found;
    EmSetupCheckerState check;
    std::string rebuilt;
  } cases[] = {
      {"right command", head + "Name=T\nExec=tolvane %u\n", EmSetupOk, "tolvane %u", EmSetupOk,
       head + "Name=T\nExec=tolvane %u\n"},
      {"field code in capitals", head + "Exec=tolvane %U\nTerminal=false\n", EmSetupOk,
       "tolvane %U", EmSetupNeedRepair, head + "Exec=tolvane %u\nTerminal=false\n"},
      {"blanks around =", head + "Exec \t\f= \ttolvane %u\n", EmSetupOk, "tolvane %u", EmSetupOk,
       head + "Exec=tolvane %u\n"},
      {"blank after the command", head + "Exec=tolvane %u \n", EmSetupOk, "tolvane %u ",
       EmSetupNeedRepair, head + "Exec=tolvane %u\n"},
      {"indented", head + "  Exec=tolvane %u\n", EmSetupOk, "tolvane %u", EmSetupOk,
       head + "Exec=tolvane %u\n"},
      {"CR LF, right command", "[Desktop Entry]\r\nExec=tolvane %u\r\nType=Application\r\n",
       EmSetupOk, "tolvane %u", EmSetupOk,
       "[Desktop Entry]\r\nExec=tolvane %u\nType=Application\r\n"},
      {"CR LF, other command", "  [Desktop Entry] \r\nExec=old\r\nType=Application\r\n", EmSetupOk,
       "old", EmSetupNeedRepair, "  [Desktop Entry] \r\nExec=tolvane %u\nType=Application\r\n"},
      {"an action's command is its own",
       head + "Exec=tolvane-legacy %u\n\n[Desktop Action new-window]\nExec=tolvane %u\n", EmSetupOk,
       "tolvane-legacy %u", EmSetupNeedRepair,
       head + "Exec=tolvane %u\n\n[Desktop Action new-window]\nExec=tolvane %u\n"},
      {"duplicate keys, the last counts", head + "Exec=tolvane %u\nExec=old\n", EmSetupOk, "old",
       EmSetupNeedRepair, head + "Exec=tolvane %u\nExec=tolvane %u\n"},
      {"main group twice", head + "[A]\nExec=a\n[Desktop Entry]\nExec=old\n", EmSetupOk, "old",
       EmSetupNeedRepair, head + "[A]\nExec=a\n[Desktop Entry]\nExec=tolvane %u\n"},
      {"keys that only begin with Exec",
       head + "ExecutionMode=single\nExec[de]=x\nExec=tolvane %u\nExecutable=no\n", EmSetupOk,
       "tolvane %u", EmSetupOk,
       head + "ExecutionMode=single\nExec[de]=x\nExec=tolvane %u\nExecutable=no\n"},
      {"no final newline", head + "Exec=tolvane %u", EmSetupOk, "tolvane %u", EmSetupOk,
       head + "Exec=tolvane %u\n"},
      // GLib's reading, not C's: a form feed before "=" belongs to the key's
      // white space, a vertical tab does not; a CR at the very end stays.
      {"form feed before =", head + "Exec=tolvane %u\nExec\f=evil %u\n", EmSetupOk, "evil %u",
       EmSetupNeedRepair, head + "Exec=tolvane %u\nExec=tolvane %u\n"},
      {"vertical tab makes another key", head + "Exec=evil %u\n\vExec=tolvane %u\n", EmSetupOk,
       "evil %u", EmSetupNeedRepair, head + "Exec=tolvane %u\n\vExec=tolvane %u\n"},
      {"CR on the last line", head + "Exec=tolvane %u\r", EmSetupOk, "tolvane %u\r",
       EmSetupNeedRepair, head + "Exec=tolvane %u\n"},
      {"vertical tab before the command", head + "Exec=\vtolvane %u\n", EmSetupOk, "\vtolvane %u",
       EmSetupNeedRepair, head + "Exec=tolvane %u\n"},
      // The raw value: an escape that only unescaping makes a blank counts.
      {"escaped blank", head + "Exec=tolvane\\s%u\n", EmSetupOk, "tolvane\\s%u",
       EmSetupNeedRepair, head + "Exec=tolvane %u\n"},
      // The whole entry is read, past a NUL in another key's line.
      {"NUL in another key", "[Desktop Entry]\nName=a\0b\nType=Application\nExec=tolvane %u\n"s,
       EmSetupOk, "tolvane %u", EmSetupOk,
       "[Desktop Entry]\nName=a\0b\nType=Application\nExec=tolvane %u\n"s},
      // Without an Exec line the line goes into the main group.
      {"missing, before an action group",
       head + "Name=T\n# about T\n\n[Desktop Action x]\nExec=y\n", EmSetupInitFailed, "",
       EmSetupNeedRepair,
       head + "Name=T\nExec=tolvane %u\n# about T\n\n[Desktop Action x]\nExec=y\n"},
      {"missing, main group again later", head + "Name=T\n[A]\nB=c\n[Desktop Entry]\n",
       EmSetupInitFailed, "", EmSetupNeedRepair,
       head + "Name=T\nExec=tolvane %u\n[A]\nB=c\n[Desktop Entry]\n"},
      {"missing, only keys like it", head + "TryExec=tolvane\nExec[de]=x\n", EmSetupInitFailed, "",
       EmSetupNeedRepair, head + "TryExec=tolvane\nExec[de]=x\nExec=tolvane %u\n"},
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

    WriteFile(Path("entry.desktop"), checker.m_strUrlFileContent);
    TestableSetupChecker again;
    EXPECT_EQ(EmSetupOk, InitWith(again, SetupXml(Path("entry.desktop"))));
    EXPECT_EQ(EmSetupOk, again.Check());
  }
}

// An entry GLib cannot use is reported (Init 3, an internal error), never
// "repaired": a line added to it would not make the desktop read it.
TEST_F(SetupCheckerTest, AnEntryGLibCannotUseIsReportedNotRepaired) {
  InstallFakePkexec();
  const char* entries[] = {
      "",
      "Exec=old\n",
      "[Desktop Action x]\nExec=y\n",
      "[A]\nB=c\n[Desktop Entry]\nType=Application\nExec=old\n",
      "[Desktop Entry]\nExec=old\n",
      "[Desktop Entry]\nType=Link\nExec=old\n",
      "[Desktop Entry]\nType=Application\nHidden=true\nExec=old\n",
      "[Desktop Entry]\nType=Application\nExec=old\nnot a key\n",
      "[Desktop Entry]\v\nType=Application\nExec=old\n",
      "[Desktop Entry]\nType=Application\nExec\n",
      "[Desktop Entry]\nType=Application\nExec \t\r\n",
  };
  for (const std::string entry : entries) {
    SCOPED_TRACE(entry);
    WriteFile(Path("entry.desktop"), entry);
    TestableSetupChecker checker;
    EXPECT_EQ(EmSetupInitFailed, InitWith(checker, SetupXml(Path("entry.desktop"))));
    EXPECT_EQ("", checker.m_strCurExec);
    EXPECT_EQ(EmSetupInitFailed, checker.Check());
    EXPECT_EQ(EmSetupRepairFailed, checker.Repair());
    EXPECT_EQ(entry, ReadFile(Path("entry.desktop")));
  }
  EXPECT_EQ("", PkexecLog());
}

// What would be installed is read back by GLib first: a configured command
// that GLib would read otherwise (it drops leading blanks) is never
// installed.
TEST_F(SetupCheckerTest, ARebuiltEntryGLibReadsOtherwiseIsNeverInstalled) {
  InstallFakePkexec();
  WriteFile(Path("entry.desktop"), "[Desktop Entry]\nType=Application\nExec=old\n");
  TestableSetupChecker checker;
  ASSERT_EQ(EmSetupOk, InitWith(checker, SetupXml(Path("entry.desktop"), " tolvane %u")));
  ASSERT_EQ(EmSetupNeedRepair, checker.Check());
  EXPECT_EQ(EmSetupRepairFailed, checker.Repair());
  EXPECT_EQ("", PkexecLog());
  EXPECT_EQ("[Desktop Entry]\nType=Application\nExec=old\n", ReadFile(Path("entry.desktop")));
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
  WriteFile(Path("a.desktop"), "[Desktop Entry]\nType=Application\nExec=a\n");
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
  REQUIRE_ROOT_FOR_THE_COPY();
  InstallFakePkexec();
  const std::string entry =
      "[Desktop Entry]\nType=Application\nName=Tolvane\nExec=tolvane "
      "%U\nMimeType=x-scheme-handler/tolvane;\n";
  WriteFile(Path("entry.desktop"), entry, 0644);
  TestableSetupChecker checker;
  ASSERT_EQ(EmSetupOk, InitWith(checker, SetupXml(Path("entry.desktop"))));
  ASSERT_EQ(EmSetupNeedRepair, checker.Check());
  mode_t oldMask = ::umask(077);
  EmSetupCheckerState repaired = checker.Repair();
  ::umask(oldMask);
  EXPECT_EQ(EmSetupOk, repaired);
  EXPECT_EQ("/bin/cp -T -u --no-preserve=mode /dev/stdin " + Path("entry.desktop") + "\n", PkexecLog());
  EXPECT_EQ(
      "[Desktop Entry]\nType=Application\nName=Tolvane\nExec=tolvane "
      "%u\nMimeType=x-scheme-handler/tolvane;\n",
      ReadFile(Path("entry.desktop")));
  EXPECT_EQ(0644u, ModeOf(Path("entry.desktop")));
}

TEST_F(SetupCheckerTest, ARefusedRepairLeavesTheEntryAlone) {
  InstallFakePkexec();
  WriteFile(Path("entry.desktop"), "[Desktop Entry]\nType=Application\nExec=old\n");
  EXPECT_TRUE(InChild([&] {  // a refusal lasts for the process
    RefuseFakePkexec();
    TestableSetupChecker checker;
    return InitWith(checker, SetupXml(Path("entry.desktop"))) == EmSetupOk &&
           checker.Check() == EmSetupNeedRepair && checker.Repair() == EmSetupRepairFailed;
  }));
  EXPECT_EQ("[Desktop Entry]\nType=Application\nExec=old\n", ReadFile(Path("entry.desktop")));
}
