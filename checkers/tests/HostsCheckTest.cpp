#include "checkers/LinuxHostsChecker.h"
#include "common/LineReader.h"
#include "testsupport/TestSupport.h"

#include <sys/stat.h>

using namespace testsupport;
using namespace std::string_literals;

namespace {

// Reads its hosts file from the test directory.
class TestableHostsChecker : public LinuxHostsChecker {
 public:
  // onlyNamingLines: as the program's checker, which keeps no text.
  explicit TestableHostsChecker(std::string path, bool onlyNamingLines = false)
      : m_strPath(std::move(path)) {
    m_bOnlyNamingLines = onlyNamingLines;
  }
  std::string GetHostsFilePath() override { return m_strPath; }
  const std::string& Content() const { return m_strHostsContent; }
  const std::map<std::string, std::string>& Hosts() const { return m_mapHosts; }
  EmHostsCheckerState Rebuild() { return RebuildContent(); }
  // How many lines of the last reading filled the reader's buffer.
  std::size_t LongLines() const { return m_read.longLines; }

 private:
  std::string m_strPath;
};

const char kOneDomain[] = R"(<hosts><hosts1 domain="local.tolvane.com" ip="127.0.0.1"/></hosts>)";
const char kCanonical[] = "127.0.0.1            local.tolvane.com";

constexpr std::size_t kLong = NSCheckerTool::kLineBufferSize;  // fills the read buffer

// The text with its lines made as long as the read buffer: blanks widened
// (the same reading), a long field put before each newline, or blanks
// before each line.
std::vector<std::string> Longer(const std::string& text) {
  const std::string wide(kLong, ' ');
  std::string blanks, field, lead;
  for (const char c : text) {
    blanks += c == ' ' || c == '\t' ? wide : std::string(1, c);
    field += c == '\n' ? " " + std::string(kLong, 'x') + "\n" : std::string(1, c);
    lead += c == '\n' ? "\n" + wide : std::string(1, c);
  }
  return {blanks, field, wide + lead};
}

// How many lines of text are as long as the read buffer or longer: those
// that a reading of it hands on in pieces.
std::size_t LongLines(const std::string& text) {
  std::size_t count = 0;
  for (std::size_t begin = 0; begin < text.size();) {
    const std::size_t end = std::min(text.find('\n', begin), text.size());
    count += end - begin >= kLong ? 1 : 0;
    begin = end + 1;
  }
  return count;
}

}  // namespace

class HostsCheckTest : public TempDirTest {
 protected:
  EmHostsCheckerState InitWith(TestableHostsChecker& checker, const char* xml) {
    pugi::xml_document doc;
    return checker.Init(ParseSection(doc, xml, "hosts"));
  }
};

TEST_F(HostsCheckTest, JudgesAndRewritesLines) {
  const std::string c = kCanonical;
  struct Case {
    const char* what;
    std::string file;
    EmHostsCheckerState code;
    std::string content;
  } cases[] = {
      {"right entry, one space", "127.0.0.1 local.tolvane.com\n", EmHostsOk, c + "\n"},
      {"right entry among others",
       "# comment\n\n   \n\t# indented comment\n127.0.0.1\tlocalhost\n  127.0.0.1   "
       "local.tolvane.com  \n::1 ip6-localhost\n",
       EmHostsOk,
       "# comment\n\n   \n\t# indented comment\n127.0.0.1\tlocalhost\n" + c +
           "\n::1 ip6-localhost\n"},
      {"other address", "::1 local.tolvane.com\n", EmHostsNeedRepair, c + "\n"},
      {"trailing comment", "127.0.0.1 local.tolvane.com # mine\n", EmHostsNeedRepair, c + "\n"},
      {"comment right after the name", "10.0.0.5 local.tolvane.com#old\n", EmHostsNeedRepair,
       c + "\n"},
      {"comment right after, right address", "127.0.0.1 local.tolvane.com#\n", EmHostsNeedRepair,
       c + "\n"},
      {"other letter case", "127.0.0.1 Local.Tolvane.com\n", EmHostsNeedRepair, c + "\n"},
      {"other letter case and address", "10.0.0.5 LOCAL.TOLVANE.COM\n", EmHostsNeedRepair,
       c + "\n"},
      {"every name spells it", "127.0.0.1 local.tolvane.com LOCAL.tolvane.com\n", EmHostsNeedRepair,
       c + "\n"},
      {"duplicate, both right", "127.0.0.1 local.tolvane.com\n127.0.0.1 local.tolvane.com\n",
       EmHostsNeedRepair, c + "\n# 127.0.0.1 local.tolvane.com\n"},
      {"duplicate in another case", "127.0.0.1 local.tolvane.com\n10.0.0.5\tLocal.Tolvane.COM \n",
       EmHostsNeedRepair, c + "\n# 10.0.0.5\tLocal.Tolvane.COM\n"},
      // Other names on the line keep their address; only the domain goes.
      {"followed by an alias", "127.0.0.1 local.tolvane.com mybox\n", EmHostsNeedRepair,
       "127.0.0.1 mybox\n" + c + "\n"},
      {"as an alias", "0.0.0.0 ads.example.com local.tolvane.com\n", EmHostsNeedRepair,
       "0.0.0.0 ads.example.com\n" + c + "\n"},
      {"as an alias in capitals, among others",
       "127.0.1.1\tmybox\tLOCAL.tolvane.com\tmybox.lan # the box\n", EmHostsNeedRepair,
       "127.0.1.1\tmybox\tmybox.lan # the box\n" + c + "\n"},
      {"twice among others", "::1  local.tolvane.com ip6-localhost local.tolvane.com\n",
       EmHostsNeedRepair, "::1 ip6-localhost\n" + c + "\n"},
      {"as an alias, CR LF kept", "0.0.0.0 a.example local.tolvane.com\r\n", EmHostsNeedRepair,
       "0.0.0.0 a.example\r\n" + c + "\n"},
      {"as an alias after the entry",
       "127.0.0.1 local.tolvane.com\n10.0.0.1 a.example local.tolvane.com\n", EmHostsNeedRepair,
       c + "\n10.0.0.1 a.example\n"},
      // What the resolver does not read as the domain stays.
      {"only in a comment", "127.0.0.1 localhost # local.tolvane.com\n", EmHostsNeedRepair,
       "127.0.0.1 localhost # local.tolvane.com\n" + c + "\n"},
      {"after a # within a name", "10.0.0.1 other#local.tolvane.com\n", EmHostsNeedRepair,
       "10.0.0.1 other#local.tolvane.com\n" + c + "\n"},
      {"a longer name", "127.0.0.1 xlocal.tolvane.com local.tolvane.com.evil\n", EmHostsNeedRepair,
       "127.0.0.1 xlocal.tolvane.com local.tolvane.com.evil\n" + c + "\n"},
      {"single token", "local.tolvane.com\n", EmHostsNeedRepair, "local.tolvane.com\n" + c + "\n"},
      {"empty file", "", EmHostsNeedRepair, c + "\n"},
      {"no final newline", "127.0.0.1 localhost", EmHostsNeedRepair,
       "127.0.0.1 localhost\n" + c + "\n"},
      {"CR LF kept where untouched", "127.0.0.1 localhost\r\n127.0.0.1 local.tolvane.com\r\n",
       EmHostsOk, "127.0.0.1 localhost\r\n" + c + "\n"},
      {"CR LF duplicate loses it",
       "127.0.0.1 local.tolvane.com\r\n 127.0.0.2 local.tolvane.com\r\n", EmHostsNeedRepair,
       c + "\n# 127.0.0.2 local.tolvane.com\n"},
      {"commented entry only", "#127.0.0.1 local.tolvane.com\n", EmHostsNeedRepair,
       "#127.0.0.1 local.tolvane.com\n" + c + "\n"},
      {"bytes outside ASCII are not blanks", "127.0.0.1\xc2\xa0local.tolvane.com\n",
       EmHostsNeedRepair, "127.0.0.1\xc2\xa0local.tolvane.com\n" + c + "\n"},
      {"vertical tab and form feed separate", "127.0.0.1\v\flocal.tolvane.com\n", EmHostsOk,
       c + "\n"},
      // The resolver reads a line as a C string.
      {"NUL after the name", "10.0.0.1 local.tolvane.com\0junk\n"s, EmHostsNeedRepair, c + "\n"},
      {"the name after a NUL", "127.0.0.1 x\0local.tolvane.com\n"s, EmHostsNeedRepair,
       "127.0.0.1 x\0local.tolvane.com\n"s + c + "\n"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    WriteFile(Path("hosts"), k.file);
    TestableHostsChecker checker(Path("hosts"));
    ASSERT_EQ(EmHostsOk, InitWith(checker, kOneDomain));
    EXPECT_EQ(k.code, checker.Check());
    EXPECT_EQ(k.content, checker.Content());

    // The corrected text is stable: checking it again finds nothing to do.
    WriteFile(Path("hosts"), checker.Content());
    EXPECT_EQ(EmHostsOk, checker.Check());
    EXPECT_EQ(k.content, checker.Content());

    // Lines longer than the read buffer: the program's checker, which keeps
    // no text and holds no such line, judges as the one that reads whole lines.
    int variant = 0;
    for (const std::string& longer : Longer(k.file)) {
      SCOPED_TRACE(variant++);
      WriteFile(Path("hosts"), longer);
      TestableHostsChecker whole(Path("hosts"));
      TestableHostsChecker program(Path("hosts"), true);
      ASSERT_EQ(EmHostsOk, InitWith(whole, kOneDomain));
      ASSERT_EQ(EmHostsOk, InitWith(program, kOneDomain));
      const EmHostsCheckerState code = whole.Check();
      EXPECT_EQ(code, program.Check());
      EXPECT_EQ(LongLines(longer), program.LongLines());
      // The repair's text, built with each long line kept once.
      EXPECT_EQ(code, program.Rebuild());
      EXPECT_TRUE(whole.Content() == program.Content()) << "the corrected texts differ";
      if (variant != 2) {
        EXPECT_EQ(k.code, code);  // widened blanks read the same
      }
    }
  }
}

// The program's checker skims long fields and runs of blanks a word at a
// time: every byte that ends a field still ends it, wherever it falls.
TEST_F(HostsCheckTest, LongFieldsEndWhereTheResolverEndsThem) {
  using namespace std::string_literals;
  for (const char end : " \t\v\f\r#\0\n\xc2"s) {
    for (std::size_t shift = 0; shift <= HostsChecker::kSkimBytes; ++shift) {
      SCOPED_TRACE(std::to_string(static_cast<int>(end)) + " after " + std::to_string(shift));
      const std::string field(kLong + shift, 'x');
      const std::string blanks(kLong + shift, ' ');
      for (const std::string& text :
           {"127.0.0.1 local.tolvane.com\n127.0.0.1 " + field + end + field.substr(0, 16) +
                " local.tolvane.com\n",
            "127.0.0.1 local.tolvane.com\n10.0.0.1 " + field + end + "local.tolvane.com\n",
            "127.0.0.1 local.tolvane.com" + blanks + end + "x\n",
            "127.0.0.1" + blanks + end + "local.tolvane.com\n"}) {
        WriteFile(Path("hosts"), text);
        TestableHostsChecker whole(Path("hosts"));
        TestableHostsChecker program(Path("hosts"), true);
        ASSERT_EQ(EmHostsOk, InitWith(whole, kOneDomain));
        ASSERT_EQ(EmHostsOk, InitWith(program, kOneDomain));
        EXPECT_EQ(whole.Check(), program.Check());
        EXPECT_EQ(1u, program.LongLines());
      }
    }
  }
}

// Lines longer than the read buffer as the resolver reads them, at every
// alignment of the skim: a tab before the name still separates it; a last
// line without a newline is judged; a name that only starts with the domain
// is another name.
TEST_F(HostsCheckTest, LongLinesAreJudgedAsTheResolverReadsThem) {
  const std::string c = kCanonical;
  for (std::size_t shift = 0; shift <= HostsChecker::kSkimBytes; ++shift) {
    SCOPED_TRACE(shift);
    const std::string blanks(kLong + shift, ' ');
    const std::string field(kLong + shift, 'x');
    struct Case {
      std::string file;
      EmHostsCheckerState code;
      std::string content;
    } cases[] = {
        {"10.0.0.1" + blanks + "\tlocal.tolvane.com\n", EmHostsNeedRepair, c + "\n"},
        {"::1 localhost\n10.0.0.1" + blanks + "local.tolvane.com", EmHostsNeedRepair,
         "::1 localhost\n" + c + "\n"},
        {c + "\n10.0.0.1 local.tolvane.com" + field + "\n", EmHostsOk, ""},
    };
    for (const Case& k : cases) {
      WriteFile(Path("hosts"), k.file);
      TestableHostsChecker program(Path("hosts"), true);
      ASSERT_EQ(EmHostsOk, InitWith(program, kOneDomain));
      EXPECT_EQ(k.code, program.Check());
      EXPECT_EQ(1u, program.LongLines());
      if (k.code == EmHostsNeedRepair) {
        EXPECT_EQ(k.code, program.Rebuild());
        EXPECT_TRUE(k.content == program.Content()) << "the corrected text differs";
      }
    }
  }
}

TEST_F(HostsCheckTest, MissingEntriesAreAppendedInByteOrder) {
  const char* xml =
      R"(<hosts><a domain="b.example" ip="10.0.0.2"/><b domain="B.example" ip="10.0.0.3"/>)"
      R"(<c domain="a.example" ip="10.0.0.1"/><d domain="a.example" ip="10.9.9.9"/></hosts>)";
  const std::string expected =
      "10.0.0.3             B.example\n10.0.0.1             a.example\n10.0.0.2             "
      "b.example\n";
  for (bool exists : {false, true}) {
    SCOPED_TRACE(exists ? "empty file" : "no file");
    if (exists) {
      WriteFile(Path("hosts"), "");
    }
    TestableHostsChecker checker(Path("hosts"));
    ASSERT_EQ(EmHostsOk, InitWith(checker, xml));
    EXPECT_EQ(EmHostsNeedRepair, checker.Check());
    EXPECT_EQ(expected, checker.Content());
  }
  // Each right line stays, the exact spelling winning over its case twin.
  WriteFile(Path("hosts"), expected);
  TestableHostsChecker checker(Path("hosts"));
  ASSERT_EQ(EmHostsOk, InitWith(checker, xml));
  EXPECT_EQ(EmHostsOk, checker.Check());
  EXPECT_EQ(expected, checker.Content());
}

TEST_F(HostsCheckTest, LongAddressesKeepASeparatingBlank) {
  TestableHostsChecker checker(Path("hosts"));
  EXPECT_EQ("127.0.0.1            a", checker.MakeLine("a", "127.0.0.1"));
  EXPECT_EQ("255.255.255.255      a", checker.MakeLine("a", "255.255.255.255"));
  EXPECT_EQ("fd00:1:2:3:4:5:6:7     a", checker.MakeLine("a", "fd00:1:2:3:4:5:6:7"));

  const char* xml = R"(<hosts><h domain="local.tolvane.com" ip="fd00:1234:5678:9abc::1"/></hosts>)";
  WriteFile(Path("hosts"), "fd00:1234:5678:9abc::1 local.tolvane.com\n");
  ASSERT_EQ(EmHostsOk, InitWith(checker, xml));
  EXPECT_EQ(EmHostsOk, checker.Check());
  EXPECT_EQ("fd00:1234:5678:9abc::1     local.tolvane.com\n", checker.Content());
}

TEST_F(HostsCheckTest, AnUnreadableFileGivesNoTextAndACodeOfItsOwn) {
  ASSERT_EQ(0, ::mkdir(Path("hosts").c_str(), 0755));
  TestableHostsChecker checker(Path("hosts"));
  ASSERT_EQ(EmHostsOk, InitWith(checker, kOneDomain));
  EXPECT_EQ(EmHostsReadFailed, checker.Check());
  EXPECT_EQ("", checker.Content());

  if (!RunningAsRoot()) {
    WriteFile(Path("locked"), "127.0.0.1 localhost\n", 0000);
    TestableHostsChecker locked(Path("locked"));
    ASSERT_EQ(EmHostsOk, InitWith(locked, kOneDomain));
    EXPECT_EQ(EmHostsReadFailed, locked.Check());
    EXPECT_EQ("", locked.Content());
  }
}

TEST_F(HostsCheckTest, NothingExpectedMeansNothingRead) {
  ASSERT_EQ(0, ::mkdir(Path("hosts").c_str(), 0755));  // would fail if read
  TestableHostsChecker checker(Path("hosts"));
  ASSERT_EQ(EmHostsOk, InitWith(checker, kOneDomain));
  EXPECT_EQ(EmHostsInitFailed, checker.Init(pugi::xml_node()));
  EXPECT_TRUE(checker.Hosts().empty());
  EXPECT_EQ(EmHostsOk, checker.Check());
  EXPECT_EQ("", checker.Content());
}

TEST_F(HostsCheckTest, InitTakesEveryCompleteItemFirstOneWinning) {
  TestableHostsChecker checker(Path("hosts"));
  const char* xml =
      R"(<hosts>text<x domain="a" ip="1"/><y domain="a" ip="2"/><z domain="b"/><w domain="c" ip=""/>)"
      R"(<v ip="3"/><u domain="d&amp;e" ip="4" extra="?"/></hosts>)";
  ASSERT_EQ(EmHostsOk, InitWith(checker, xml));
  std::map<std::string, std::string> expected{{"a", "1"}, {"d&e", "4"}};
  EXPECT_EQ(expected, checker.Hosts());
}

TEST_F(HostsCheckTest, TrimStripsCLocaleWhiteSpaceOnly) {
  struct Case {
    std::string in, both, left, right;
  } cases[] = {
      {" \t\v\f\r\nx y\n\r ", "x y", "x y\n\r ", " \t\v\f\r\nx y"},
      {"   ", "", "", ""},
      {"", "", "", ""},
      {"\xc2\xa0x\xc2\xa0", "\xc2\xa0x\xc2\xa0", "\xc2\xa0x\xc2\xa0", "\xc2\xa0x\xc2\xa0"},
  };
  for (const Case& c : cases) {
    std::string both = c.in, left = c.in, right = c.in;
    EXPECT_EQ(&both, &HostsChecker::trim(both));
    HostsChecker::ltrim(left);
    HostsChecker::rtrim(right);
    EXPECT_EQ(c.both, both);
    EXPECT_EQ(c.left, left);
    EXPECT_EQ(c.right, right);
  }
}

// The real hosts files people have, with the product domain absent, present,
// duplicated and as an alias: only lines naming it may change, and of those
// only the domain itself.
TEST_F(HostsCheckTest, RealHostsFilesKeepEveryOtherLine) {
  const char* files[] = {"blocklist-adaway-default.hosts",
                         "cloudinit-debian.hosts",
                         "cloudinit-redhat.hosts",
                         "container-docker-default.hosts",
                         "layout-installer.hosts",
                         "layout-trailing-dot.hosts"};
  for (const char* name : files) {
    SCOPED_TRACE(name);
    const std::string original = ReadFile(std::string(HOSTS_DATA_DIR) + "/" + name);
    ASSERT_FALSE(original.empty());
    struct Variant {
      std::string text;
      EmHostsCheckerState code;
      std::string content;
    } variants[] = {
        {original, EmHostsNeedRepair, original + kCanonical + "\n"},
        {original + "127.0.0.1 local.tolvane.com\n", EmHostsOk, original + kCanonical + "\n"},
        {"127.0.0.1 local.tolvane.com\n" + original + "127.0.0.1 local.tolvane.com\n",
         EmHostsNeedRepair,
         std::string(kCanonical) + "\n" + original + "# 127.0.0.1 local.tolvane.com\n"},
        {original + "127.0.0.1 x local.tolvane.com\n", EmHostsNeedRepair,
         original + "127.0.0.1 x\n" + kCanonical + "\n"},
    };
    for (const Variant& v : variants) {
      WriteFile(Path("hosts"), v.text);
      TestableHostsChecker checker(Path("hosts"));
      ASSERT_EQ(EmHostsOk, InitWith(checker, kOneDomain));
      EXPECT_EQ(v.code, checker.Check());
      EXPECT_TRUE(v.content == checker.Content()) << "content differs";
    }
  }
}

// A subclass's own CheckError is shown every line of the file, in order,
// even where the checker the program makes passes lines over.
TEST_F(HostsCheckTest, AnOverridingCheckErrorSeesEveryLine) {
  class RecordingChecker : public TestableHostsChecker {
   public:
    using TestableHostsChecker::TestableHostsChecker;
    bool CheckError(std::string& line, const std::map<std::string, std::string>& expected,
                    std::map<std::string, bool>& seen) override {
      m_vecLines.push_back(line);
      return TestableHostsChecker::CheckError(line, expected, seen);
    }
    std::vector<std::string> m_vecLines;
  };
  WriteFile(Path("hosts"),
            "# comment\n127.0.0.1 localhost\n\n10.0.0.1 local.tolvane.com\n::1 ip6-localhost");
  RecordingChecker checker(Path("hosts"));
  ASSERT_EQ(EmHostsOk, InitWith(checker, kOneDomain));
  EXPECT_EQ(EmHostsNeedRepair, checker.Check());
  const std::vector<std::string> all = {"# comment", "127.0.0.1 localhost", "",
                                        "10.0.0.1 local.tolvane.com", "::1 ip6-localhost"};
  EXPECT_EQ(all, checker.m_vecLines);
}
