// Prints the report the check tool renders for given outcomes, for the
// browser test: report_sample LANG HOSTS-CHECK HOSTS-REPAIR SETUP-CHECK SETUP-REPAIR
#include "testsupport/StubCheckers.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[]) {
  if (argc != 6) {
    std::fputs("usage: report_sample LANG HOSTS-CHECK HOSTS-REPAIR SETUP-CHECK SETUP-REPAIR\n",
               stderr);
    return 2;
  }
  TestableTool tool;
  tool.SetLan(argv[1]);
  tool.UseHosts(std::atoi(argv[2]), std::atoi(argv[3]));
  tool.UseSetup(std::atoi(argv[4]), std::atoi(argv[5]));
  const std::string report = tool.Check();
  std::fwrite(report.data(), 1, report.size(), stdout);
  return 0;
}
