#include "checkers/AssociatedSetupChecker.h"
#include "checkers/HostsChecker.h"
#include "checkers/LinuxAssociatedSetupChecker.h"
#include "checkers/LinuxHostsChecker.h"
#include "checkers/LinuxProxyChecker.h"
#include "testsupport/TestSupport.h"

TEST(CheckerFactoryTest, FactoriesMakeTheLinuxCheckersAndDestroyClearsThePointer) {
  HostsChecker* hosts = HostsChecker::CreateInstance();
  AssociatedSetupChecker* setup = AssociatedSetupChecker::CreateInstance();
  ProxyChecker* proxy = ProxyChecker::CreateInstance();
  EXPECT_NE(nullptr, dynamic_cast<LinuxHostsChecker*>(hosts));
  EXPECT_NE(nullptr, dynamic_cast<LinuxAssociatedSetupChecker*>(setup));
  EXPECT_NE(nullptr, dynamic_cast<LinuxProxyChecker*>(proxy));
  EXPECT_EQ("/etc/hosts", hosts->GetHostsFilePath());
  for (int round = 0; round < 2; ++round) {  // the second round finds null and does nothing
    HostsChecker::DestroyInstance(hosts);
    AssociatedSetupChecker::DestroyInstance(setup);
    ProxyChecker::DestroyInstance(proxy);
    EXPECT_EQ(nullptr, hosts);
    EXPECT_EQ(nullptr, setup);
    EXPECT_EQ(nullptr, proxy);
  }
}

TEST(ProxyCheckerTest, EveryOperationSucceedsWhateverTheSection) {
  ProxyChecker* proxy = ProxyChecker::CreateInstance();
  pugi::xml_document doc;
  pugi::xml_node section =
      testsupport::ParseSection(doc, "<proxy host=\"h\" port=\"1\"><x/></proxy>", "proxy");
  EXPECT_EQ(EmProxyOk, proxy->Init(section));
  EXPECT_EQ(EmProxyOk, proxy->Init(pugi::xml_node()));
  EXPECT_EQ(EmProxyOk, proxy->Check());
  EXPECT_EQ(EmProxyOk, proxy->Repair());
  ProxyChecker::DestroyInstance(proxy);
}
