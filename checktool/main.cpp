// checktool --path <report file> --lang <code>
//
// Checks that the hosts file maps the client's local domain and that the
// client's URL-handler desktop entry runs the right command, repairs what is
// wrong through "pkexec mv", and writes an HTML table report.
#include "checktool/ClientCheckTool.h"
#include "checktool/DefaultConfig.h"
#include "common/FileIO.h"
#include "common/RunLock.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// The one line the program ever prints goes to standard output; if that
// fails there is nobody left to tell.
void Say(const std::string& text) {
  (void)std::fwrite(text.data(), 1, text.size(), stdout);
  (void)std::fflush(stdout);
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 5) {
    Say("Wrong args\n");
    return -1;
  }
  if (std::strcmp(argv[1], "--path") != 0) {
    Say("Mising --path\n");
    return -1;
  }
  const std::string reportPath = argv[2];
  if (std::strcmp(argv[3], "--lang") != 0) {
    Say("Mising --lang\n");
    return -1;
  }
  const std::string lan = argv[4];

  ClientCheckTool tool;
  std::string report;
  {
    // Held from before the desktop entry is read until the report is built,
    // so that runs never overlap on the files they check and replace.
    NSCheckerTool::RunLock lock(NSCheckerTool::RunLock::DefaultPath(),
                                NSCheckerTool::RunLock::kDefaultWaitMs);
    if (!tool.LoadCfg(lan, std::string(g_strXml), false)) {
      Say("加载配置文件失败\n\n");
      return -1;
    }
    report = tool.Check();
  }

  if (!NSCheckerTool::WriteWholeFile(reportPath, report)) {
    Say("Can't write " + reportPath + "\n");
    return -1;
  }
  return 0;
}
