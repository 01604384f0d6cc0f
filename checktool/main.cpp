// checktool --path <report file> --lang <code>
//
// Checks that the hosts file maps the client's local domain and that the
// client's URL-handler desktop entry runs the right command, repairs what is
// wrong through pkexec, and writes an HTML table report.
#include "checktool/ClientCheckTool.h"
#include "checktool/DefaultConfig.h"
#include "common/FileIO.h"
#include "common/NSCheckerTool.h"
#include "common/RunLock.h"

#include <poll.h>
#include <unistd.h>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// The one line the program ever prints goes to standard output; if that
// fails there is nobody left to tell. After a stop signal it goes only if
// it goes at once: a pipe that nobody empties must not hold up the end.
void Say(const std::string& text) {
  struct pollfd out {
    STDOUT_FILENO, POLLOUT, 0
  };
  if (NSCheckerTool::InterruptSignal() != 0 &&
      (::poll(&out, 1, 0) != 1 || (out.revents & POLLOUT) == 0)) {
    return;
  }
  (void)std::fwrite(text.data(), 1, text.size(), stdout);
  (void)std::fflush(stdout);
}

// Ends the process by signal, as a command interrupted by it would end, so
// that whoever started us sees the interrupt rather than a normal exit.
void DieBy(int signal) {
  (void)std::signal(signal, SIG_DFL);  // a known signal: cannot fail
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  (void)sigprocmask(SIG_UNBLOCK, &only, nullptr);
  (void)std::raise(signal);
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

  // From here on a stop (Ctrl-C, a closed terminal, a logout, the client
  // ending us) ends the run in order: no further prompt, the report written,
  // then the end by that signal.
  NSCheckerTool::CatchStopSignals();
  // A write past the file size limit (ulimit -f) fails like any failed
  // write, with EFBIG, instead of killing the run before its report. The
  // copy as root inherits the limit too, but never gets to meet it: the
  // staging of the same text fails first.
  (void)std::signal(SIGXFSZ, SIG_IGN);
  ClientCheckTool tool;
  std::string report;
  {
    // Held from before the desktop entry is read until the report is built,
    // so that runs of the same user never show two prompts at once.
    NSCheckerTool::RunLock lock(NSCheckerTool::RunLock::DefaultPaths(),
                                NSCheckerTool::RunLock::kDefaultWaitMs);
    if (!tool.LoadCfg(lan, std::string(g_strXml), false)) {
      Say("加载配置文件失败\n\n");
      return -1;
    }
    report = tool.Check();
  }

  const bool written = NSCheckerTool::WriteReport(reportPath, report);
  if (!written) {
    Say("Can't write " + reportPath + "\n");
  }
  // A stop signal stopped the repairs; the report says which failed, and
  // then we end by that signal, as the interrupted command did.
  if (const int signal = NSCheckerTool::InterruptSignal()) {
    DieBy(signal);
  }
  return written ? 0 : -1;
}
