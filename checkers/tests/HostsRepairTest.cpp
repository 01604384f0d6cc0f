#include "checkers/LinuxHostsChecker.h"
#include "common/NSCheckerTool.h"
#include "common/RunLock.h"
#include "testsupport/TestSupport.h"

#include <sys/stat.h>
#include <functional>
#include <memory>

using namespace testsupport;

namespace {

// Keeps the repair inside the test directory: the hosts file lives there. The
// name the repair stages its text under is recorded.
class TestableHostsRepair : public LinuxHostsChecker {
 public:
  // keepsNothing: judge as the program's own checker does, keeping no text.
  explicit TestableHostsRepair(std::string hosts, bool keepsNothing = false)
      : m_strHosts(std::move(hosts)) {
    m_bOnlyNamingLines = keepsNothing;
  }
  const std::string& Content() const { return m_strHostsContent; }
  std::string GetHostsFilePath() override { return m_strHosts; }
  EmHostsCheckerState WriteTmpHostsFile(const std::string& tmpPath) override {
    m_vecWritePaths.push_back(tmpPath);
    return LinuxHostsChecker::WriteTmpHostsFile(tmpPath);
  }
  EmHostsCheckerState ReplaceHosts(const std::string& target, const std::string& tmpPath) override {
    m_vecCopyPaths.push_back(tmpPath);
    return LinuxHostsChecker::ReplaceHosts(target, tmpPath);
  }

  std::vector<std::string> m_vecWritePaths;
  std::vector<std::string> m_vecCopyPaths;

 private:
  std::string m_strHosts;
};

const char kOneDomain[] = R"(<hosts><hosts1 domain="local.tolvane.com" ip="127.0.0.1"/></hosts>)";
const char kBroken[] = "127.0.0.1 localhost\n::1 local.tolvane.com # old\n";
const char kRepaired[] = "127.0.0.1 localhost\n127.0.0.1            local.tolvane.com\n";

}  // namespace

class HostsRepairTest : public TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    REQUIRE_ROOT_FOR_THE_COPY();
    InstallFakePkexec();
    WriteFile(Path("hosts"), kBroken, 0644);
    m_checker = std::make_unique<TestableHostsRepair>(Path("hosts"));
    pugi::xml_document doc;
    ASSERT_EQ(EmHostsOk, m_checker->Init(ParseSection(doc, kOneDomain, "hosts")));
  }

  std::unique_ptr<TestableHostsRepair> m_checker;
};

TEST_F(HostsRepairTest, CopiesTheCheckedTextIntoTheFileOnceThroughPkexec) {
  const std::string fixedTmp = NSCheckerTool::GetOSTempPath() + "/check_hosts_tmp";
  struct stat before {};
  ASSERT_EQ(0, ::stat(Path("hosts").c_str(), &before));
  ASSERT_EQ(EmHostsNeedRepair, m_checker->Check());
  const bool leftover = Exists(fixedTmp);
  mode_t oldMask = ::umask(077);
  EmHostsCheckerState repaired = m_checker->Repair();
  ::umask(oldMask);
  EXPECT_EQ(EmHostsOk, repaired);

  // The text is staged under the temporary file's name; no file is made.
  EXPECT_EQ(std::vector<std::string>{fixedTmp}, m_checker->m_vecWritePaths);
  EXPECT_EQ(std::vector<std::string>{fixedTmp}, m_checker->m_vecCopyPaths);
  EXPECT_EQ(leftover, Exists(fixedTmp));
  EXPECT_EQ("/bin/cp -T -u --no-preserve=mode /dev/stdin " + Path("hosts") + "\n", PkexecLog());
  EXPECT_EQ(kRepaired, ReadFile(Path("hosts")));
  struct stat after {};
  ASSERT_EQ(0, ::stat(Path("hosts").c_str(), &after));
  EXPECT_EQ(before.st_ino, after.st_ino);  // written into, not replaced
  EXPECT_EQ(0644u, ModeOf(Path("hosts")));
  EXPECT_EQ(EmHostsOk, m_checker->Check());
}

TEST_F(HostsRepairTest, AMissingFileIsCreatedWithMode0644) {
  ASSERT_EQ(0, ::unlink(Path("hosts").c_str()));
  ASSERT_EQ(EmHostsNeedRepair, m_checker->Check());
  mode_t oldMask = ::umask(077);
  EmHostsCheckerState repaired = m_checker->Repair();
  ::umask(oldMask);
  EXPECT_EQ(EmHostsOk, repaired);
  EXPECT_EQ("/bin/cp -T -n --no-preserve=mode /dev/stdin " + Path("hosts") + "\n", PkexecLog());
  EXPECT_EQ("127.0.0.1            local.tolvane.com\n", ReadFile(Path("hosts")));
  EXPECT_EQ(0644u, ModeOf(Path("hosts")));  // not 0600 from the umask
}

// A refusal lasts for the process: in a child.
TEST_F(HostsRepairTest, ARefusedOrImpossibleCopyFailsAndChangesNothing) {
  for (const char* what : {"refused", "no pkexec on PATH"}) {
    SCOPED_TRACE(what);
    EXPECT_TRUE(InChild([&] {
      if (std::string(what) == "refused") {
        RefuseFakePkexec();
      } else {
        ::setenv("PATH", Path("empty-bin").c_str(), 1);
      }
      return m_checker->Check() == EmHostsNeedRepair &&
             m_checker->Repair() == EmHostsRepairFailed && m_checker->m_vecCopyPaths.size() == 1;
    }));
    EXPECT_EQ(kBroken, ReadFile(Path("hosts")));
  }
}

// A path with a blank and a quote reaches pkexec as one argument.
TEST_F(HostsRepairTest, ATargetPathThatNeedsQuotingIsRepaired) {
  const std::string odd = Path("it's a hosts file");
  WriteFile(odd, kBroken, 0644);
  TestableHostsRepair checker(odd);
  pugi::xml_document doc;
  ASSERT_EQ(EmHostsOk, checker.Init(ParseSection(doc, kOneDomain, "hosts")));
  ASSERT_EQ(EmHostsNeedRepair, checker.Check());
  EXPECT_EQ(EmHostsOk, checker.Repair());
  EXPECT_EQ("/bin/cp -T -u --no-preserve=mode /dev/stdin " + odd + "\n", PkexecLog());
  EXPECT_EQ(kRepaired, ReadFile(odd));
}

TEST_F(HostsRepairTest, NoCommandRunsOnceTheRunLockWasMissed) {
  ASSERT_EQ(EmHostsNeedRepair, m_checker->Check());
  NSCheckerTool::RunLock holder(Path("lock"), 0);
  NSCheckerTool::RunLock missed(Path("lock"), 0);
  EXPECT_EQ(EmHostsRepairFailed, m_checker->Repair());
  EXPECT_TRUE(m_checker->m_vecCopyPaths.empty());
  EXPECT_EQ("", PkexecLog());
  EXPECT_EQ(kBroken, ReadFile(Path("hosts")));
}

// The check keeps nothing of the file; the repair corrects the file as it is
// when it runs.
TEST_F(HostsRepairTest, TheRepairCorrectsTheFileAsItIsThen) {
  const std::string changed = "::1 localhost\n10.0.0.9 local.tolvane.com\n";
  struct Case {
    const char* what;
    std::function<void()> change;
    EmHostsCheckerState repair;
    std::string hosts;
    const char* command;
  } cases[] = {
      {"changed", [&] { WriteFile(Path("hosts"), changed); }, EmHostsOk,
       "::1 localhost\n127.0.0.1            local.tolvane.com\n", "/bin/cp -T -u --no-preserve=mode /dev/stdin "},
      {"right by now", [&] { WriteFile(Path("hosts"), kRepaired); }, EmHostsOk, kRepaired, ""},
      {"gone", [&] { ASSERT_EQ(0, ::unlink(Path("hosts").c_str())); }, EmHostsOk,
       "127.0.0.1            local.tolvane.com\n", "/bin/cp -T -n --no-preserve=mode /dev/stdin "},
      {"a directory by now",
       [&] {
         ASSERT_EQ(0, ::unlink(Path("hosts").c_str()));
         ASSERT_EQ(0, ::mkdir(Path("hosts").c_str(), 0755));
       },
       EmHostsRepairFailed, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ::rmdir(Path("hosts").c_str());
    WriteFile(Path("hosts"), kBroken, 0644);
    WriteFile(Path("pkexec.log"), "");
    TestableHostsRepair checker(Path("hosts"), true);
    pugi::xml_document doc;
    ASSERT_EQ(EmHostsOk, checker.Init(ParseSection(doc, kOneDomain, "hosts")));
    ASSERT_EQ(EmHostsNeedRepair, checker.Check());
    EXPECT_EQ("", checker.Content());
    c.change();
    EXPECT_EQ(c.repair, checker.Repair());
    EXPECT_EQ(c.hosts, ReadFile(Path("hosts")));
    EXPECT_EQ(*c.command ? c.command + Path("hosts") + "\n" : "", PkexecLog());
  }
}
