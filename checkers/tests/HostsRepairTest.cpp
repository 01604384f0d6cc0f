#include "checkers/LinuxHostsChecker.h"
#include "common/NSCheckerTool.h"
#include "common/RunLock.h"
#include "testsupport/TestSupport.h"

#include <sys/stat.h>
#include <memory>

using namespace testsupport;

namespace {

// Keeps the repair inside the test directory: the hosts file lives there, and
// the temporary path the repair asks for is recorded and swapped for one of
// the test's own.
class TestableHostsRepair : public LinuxHostsChecker {
 public:
  TestableHostsRepair(std::string hosts, std::string tmp)
      : m_strHosts(std::move(hosts)), m_strTmp(std::move(tmp)) {}
  std::string GetHostsFilePath() override { return m_strHosts; }
  EmHostsCheckerState WriteTmpHostsFile(const std::string& tmpPath) override {
    m_vecWritePaths.push_back(tmpPath);
    return LinuxHostsChecker::WriteTmpHostsFile(m_strTmp);
  }
  EmHostsCheckerState ReplaceHosts(const std::string& target, const std::string& tmpPath) override {
    m_vecCopyPaths.push_back(tmpPath);
    return LinuxHostsChecker::ReplaceHosts(target, m_strTmp);
  }

  std::vector<std::string> m_vecWritePaths;
  std::vector<std::string> m_vecCopyPaths;

 private:
  std::string m_strHosts;
  std::string m_strTmp;
};

const char kOneDomain[] = R"(<hosts><hosts1 domain="local.tolvane.com" ip="127.0.0.1"/></hosts>)";
const char kBroken[] = "127.0.0.1 localhost\n::1 local.tolvane.com # old\n";
const char kRepaired[] = "127.0.0.1 localhost\n127.0.0.1            local.tolvane.com\n";

}  // namespace

class HostsRepairTest : public TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    InstallFakePkexec();
    WriteFile(Path("hosts"), kBroken, 0644);
    m_checker = std::make_unique<TestableHostsRepair>(Path("hosts"), Path("check_hosts_tmp"));
    pugi::xml_document doc;
    ASSERT_EQ(EmHostsOk, m_checker->Init(ParseSection(doc, kOneDomain, "hosts")));
  }

  std::unique_ptr<TestableHostsRepair> m_checker;
};

TEST_F(HostsRepairTest, CopiesTheCheckedTextIntoTheFileOnceThroughPkexec) {
  WriteFile(Path("check_hosts_tmp"), std::string(4096, 'x'));  // a longer leftover
  struct stat before {};
  ASSERT_EQ(0, ::stat(Path("hosts").c_str(), &before));
  ASSERT_EQ(EmHostsNeedRepair, m_checker->Check());
  mode_t oldMask = ::umask(077);
  EmHostsCheckerState repaired = m_checker->Repair();
  ::umask(oldMask);
  EXPECT_EQ(EmHostsOk, repaired);

  const std::vector<std::string> fixedTmp{NSCheckerTool::GetOSTempPath() + "/check_hosts_tmp"};
  EXPECT_EQ(fixedTmp, m_checker->m_vecWritePaths);
  EXPECT_EQ(fixedTmp, m_checker->m_vecCopyPaths);
  EXPECT_EQ("/bin/cp " + Path("check_hosts_tmp") + " " + Path("hosts") + "\n", PkexecLog());
  EXPECT_EQ(kRepaired, ReadFile(Path("hosts")));
  struct stat after {};
  ASSERT_EQ(0, ::stat(Path("hosts").c_str(), &after));
  EXPECT_EQ(before.st_ino, after.st_ino);  // written into, not replaced
  EXPECT_EQ(0644u, ModeOf(Path("hosts")));
  EXPECT_FALSE(Exists(Path("check_hosts_tmp")));
  EXPECT_EQ(EmHostsOk, m_checker->Check());
}

TEST_F(HostsRepairTest, AMissingFileIsCreatedWithTheModeOfTheRepairFile) {
  ASSERT_EQ(0, ::unlink(Path("hosts").c_str()));
  ASSERT_EQ(EmHostsNeedRepair, m_checker->Check());
  mode_t oldMask = ::umask(077);
  EmHostsCheckerState repaired = m_checker->Repair();
  ::umask(oldMask);
  EXPECT_EQ(EmHostsOk, repaired);
  EXPECT_EQ("/bin/cp --preserve=mode " + Path("check_hosts_tmp") + " " + Path("hosts") + "\n",
            PkexecLog());
  EXPECT_EQ("127.0.0.1            local.tolvane.com\n", ReadFile(Path("hosts")));
  EXPECT_EQ(0644u, ModeOf(Path("hosts")));  // not 0600 from the umask
  EXPECT_FALSE(Exists(Path("check_hosts_tmp")));
}

TEST_F(HostsRepairTest, ARefusedCopyFailsAndLeavesNothingBehind) {
  SetEnv("FAKE_PKEXEC_REFUSE", "1");
  ASSERT_EQ(EmHostsNeedRepair, m_checker->Check());
  EXPECT_EQ(EmHostsRepairFailed, m_checker->Repair());
  EXPECT_EQ(kBroken, ReadFile(Path("hosts")));
  EXPECT_FALSE(Exists(Path("check_hosts_tmp")));
  EXPECT_EQ(1u, m_checker->m_vecCopyPaths.size());
}

// A path with a blank and a quote reaches pkexec as one argument.
TEST_F(HostsRepairTest, ATargetPathThatNeedsQuotingIsRepaired) {
  const std::string odd = Path("it's a hosts file");
  WriteFile(odd, kBroken, 0644);
  TestableHostsRepair checker(odd, Path("check_hosts_tmp"));
  pugi::xml_document doc;
  ASSERT_EQ(EmHostsOk, checker.Init(ParseSection(doc, kOneDomain, "hosts")));
  ASSERT_EQ(EmHostsNeedRepair, checker.Check());
  EXPECT_EQ(EmHostsOk, checker.Repair());
  EXPECT_EQ("/bin/cp " + Path("check_hosts_tmp") + " " + odd + "\n", PkexecLog());
  EXPECT_EQ(kRepaired, ReadFile(odd));
}

TEST_F(HostsRepairTest, NoPkexecOnThePathFails) {
  SetEnv("PATH", Path("empty-bin").c_str());
  ASSERT_EQ(EmHostsNeedRepair, m_checker->Check());
  EXPECT_EQ(EmHostsRepairFailed, m_checker->Repair());
  EXPECT_EQ(kBroken, ReadFile(Path("hosts")));
}

TEST_F(HostsRepairTest, NoCommandRunsWhenTheTemporaryFileCannotBeWritten) {
  ASSERT_EQ(EmHostsNeedRepair, m_checker->Check());
  TestableHostsRepair unwritable(Path("hosts"), Path("no-such-dir/check_hosts_tmp"));
  pugi::xml_document doc;
  ASSERT_EQ(EmHostsOk, unwritable.Init(ParseSection(doc, kOneDomain, "hosts")));
  ASSERT_EQ(EmHostsNeedRepair, unwritable.Check());
  EXPECT_EQ(EmHostsRepairFailed, unwritable.Repair());
  EXPECT_TRUE(unwritable.m_vecCopyPaths.empty());

  NSCheckerTool::RunLock holder(Path("lock"), 0);
  NSCheckerTool::RunLock missed(Path("lock"), 0);
  EXPECT_EQ(EmHostsRepairFailed, m_checker->Repair());
  EXPECT_TRUE(m_checker->m_vecCopyPaths.empty());
  EXPECT_EQ("", PkexecLog());
  EXPECT_EQ(kBroken, ReadFile(Path("hosts")));
}
