// The built program, run as the client runs it. Runs that reach the checks
// happen in a private mount namespace: /tmp is a fresh tmpfs (holding only
// what the tests need of a checkout under /tmp), /etc and /usr/share are
// overlays whose changes land in the test directory, and the fake pkexec
// copies only onto those private copies.
#include "common/NSCheckerTool.h"
#include "testsupport/TestSupport.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstdlib>

using namespace testsupport;

namespace {

struct RunResult {
  int status = -1;
  std::string out;
};

std::string Quote(const std::string& s) { return NSCheckerTool::QuoteForShell(s); }

// The program under test: the one built beside the tests, or another one
// (an installed package, say) named by CHECKTOOL_BIN.
std::string Program() {
  const char* bin = std::getenv("CHECKTOOL_BIN");
  return bin != nullptr && *bin != '\0' ? bin : CHECKTOOL_BIN;
}

// What a wrapper named by CHECKTOOL_BIN runs, if it says so.
std::string RealProgram() {
  const char* bin = std::getenv("CHECKTOOL_REAL_BIN");
  return bin != nullptr ? bin : "";
}

const char kGoodEntry[] =
    "[Desktop Entry]\nName=Tolvane\nExec=tolvane "
    "%u\nType=Application\nMimeType=x-scheme-handler/tolvane;\n";
const char kGoodHosts[] = "127.0.0.1 localhost\n127.0.0.1            local.tolvane.com\n";

bool SandboxAvailable() {
  static const bool available =
      RunningAsRoot() && std::system(
                             "unshare --mount --propagation private sh -c "
                             "'mount -t tmpfs tmpfs /mnt' >/dev/null 2>&1") == 0;
  return available;
}

}  // namespace

class CommandLineTest : public TempDirTest {
 protected:
  // Beside the build; kept reachable in the sandbox's own /tmp.
  std::string BaseDir() const override { return CHECKTOOL_TEST_WORKDIR; }

  void SetUp() override {
    TempDirTest::SetUp();
    InstallFakePkexec();
  }

  // Runs the program with args, without any sandbox: only for runs that stop
  // before the checks.
  RunResult RunPlain(const std::vector<std::string>& args) {
    std::string command = Quote(Program());
    for (const std::string& arg : args) {
      command += " " + Quote(arg);
    }
    command += " >" + Quote(Path("stdout")) + " 2>&1";
    RunResult result;
    int status = std::system(command.c_str());
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = ReadFile(Path("stdout"));
    return result;
  }

  // Runs the program inside a private mount namespace. prepare runs first
  // (as root, inside the sandbox), with $D naming the test directory; wrapper
  // stands before the program's name; the hosts file and desktop entry are
  // then copied out to $D/out, and after runs last. A run that hangs is
  // ended after 30 seconds (status 124).
  RunResult RunSandboxed(const std::string& prepare, const std::vector<std::string>& args,
                         const std::string& wrapper = "", const std::string& after = "") {
    std::string script =
        "set -e\nD=" + Quote(m_strTmpDir) +
        "\nrm -rf $D/ov $D/out $D/status $D/stdout\nmkdir -p $D/ov/etc-up $D/ov/etc-work "
        "$D/ov/share-up $D/ov/share-work $D/out\n"
        ". " +
        Quote(PRIVATE_TMP_SCRIPT) + "\nprivate_tmp \"$D\" " + Quote(Program()) + " " +
        Quote(RealProgram()) +
        "\n"
        "mount -t overlay overlay -o lowerdir=/etc,upperdir=$D/ov/etc-up,workdir=$D/ov/etc-work "
        "/etc\n"
        "mount -t overlay overlay -o "
        "lowerdir=/usr/share,upperdir=$D/ov/share-up,workdir=$D/ov/share-work /usr/share\n"
        "mkdir -p /usr/share/applications\n" +
        prepare + "\nset +e\nprintf 'FAKE_PKEXEC_SANDBOXED=1\\nFAKE_PKEXEC_ROOT=\\n' >>$D/bin/settings\n" +
        wrapper +
        " /usr/bin/timeout 30 " + Quote(Program());
    for (const std::string& arg : args) {
      script += " " + Quote(arg);
    }
    script +=
        " >$D/stdout 2>$D/stderr\necho $? >$D/status\n"
        "cat /etc/hosts >$D/out/hosts 2>/dev/null\n"
        "stat -c %a /etc/hosts >$D/out/hosts.mode 2>/dev/null\n"
        "cat /usr/share/applications/tolvane-url.desktop >$D/out/entry 2>/dev/null\n" +
        after + "\nexit 0\n";
    WriteFile(Path("sandbox.sh"), script);
    std::string command =
        "unshare --mount --propagation private /bin/sh " + Quote(Path("sandbox.sh"));
    EXPECT_EQ(0, std::system(command.c_str())) << script;
    RunResult result;
    result.status = std::atoi(ReadFile(Path("status")).c_str());
    result.out = ReadFile(Path("stdout"));
    return result;
  }

  // Shell lines that put a hosts file and a desktop entry into the sandbox.
  std::string Given(const std::string& hosts, const std::string& entry) {
    const std::string n = std::to_string(++m_nGiven);
    WriteFile(Path("given-hosts" + n), hosts);
    WriteFile(Path("given-entry" + n), entry);
    return "cp $D/given-hosts" + n + " /etc/hosts\nchmod 644 /etc/hosts\ncp $D/given-entry" + n +
           " /usr/share/applications/tolvane-url.desktop\n";
  }

  int m_nGiven = 0;

};

// Skips the test (GTEST_SKIP ends only the function it stands in, so this
// stands in the test itself) where the program cannot run sandboxed.
#define REQUIRE_SANDBOX()                                                              \
  do {                                                                                 \
    if (!SandboxAvailable()) {                                                         \
      GTEST_SKIP() << "needs root and mount namespaces to run the program safely";     \
    }                                                                                  \
  } while (false)

TEST_F(CommandLineTest, UsageErrorsPrintOneLineAndRunNoCheck) {
  struct Case {
    std::vector<std::string> args;
    const char* out;
  } cases[] = {
      {{}, "Wrong args\n"},
      {{"--path", "r.html", "--lang"}, "Wrong args\n"},
      {{"--path", "r.html", "--lang", "en", "x"}, "Wrong args\n"},
      {{"--lang", "en", "--path", "r.html"}, "Mising --path\n"},
      {{"--PATH", "r.html", "--lang", "en"}, "Mising --path\n"},
      {{"--path", "r.html", "--language", "en"}, "Mising --lang\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.out);
    RunResult run = RunPlain(c.args);
    EXPECT_EQ(255, run.status);
    EXPECT_EQ(c.out, run.out);
  }
  EXPECT_EQ("", PkexecLog());
  EXPECT_FALSE(Exists("r.html"));
}

TEST_F(CommandLineTest, RepairsTheHostsFileAndWritesTheReport) {
  SCOPED_TRACE(kWordsFrom);
  REQUIRE_SANDBOX();
  WriteFile(Path("report.html"), std::string(5000, 'x'));  // replaced, not appended to
  RunResult run =
      RunSandboxed(Given("127.0.0.1 localhost\n::1 local.tolvane.com\n", kGoodEntry) + "umask 077",
                   {"--path", Path("report.html"), "--lang", "en"});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ("", run.out);
  EXPECT_EQ(ReportText(Cells::Repaired, Cells::Correct), ReadFile(Path("report.html")));
  EXPECT_EQ(kGoodHosts, ReadFile(Path("out/hosts")));
  EXPECT_EQ("644\n", ReadFile(Path("out/hosts.mode")));
  EXPECT_EQ(kGoodEntry, ReadFile(Path("out/entry")));
  EXPECT_EQ("/bin/cp -T -u --no-preserve=mode /dev/stdin /etc/hosts\n", PkexecLog());
}

// Which language each code gives: Chinese for "cs" alone, whatever LANG says.
TEST_F(CommandLineTest, EachLanguageCodeGivesItsTexts) {
  SCOPED_TRACE(kWordsFrom);
  REQUIRE_SANDBOX();
  for (const char* code : {"cs", "zh", "de", "", "en"}) {
    SCOPED_TRACE(code);
    RunResult run = RunSandboxed(Given(kGoodHosts, kGoodEntry) + "\nexport LANG=zh_CN.UTF-8",
                                 {"--path", Path("r.html"), "--lang", code});
    EXPECT_EQ(0, run.status);
    EXPECT_EQ(ReportText(Cells::Correct, Cells::Correct, std::string(code) == "cs"),
              ReadFile(Path("r.html")));
  }
}

TEST_F(CommandLineTest, RepairsTheDesktopEntryChangingOnlyItsMainExecLine) {
  SCOPED_TRACE(kWordsFrom);
  REQUIRE_SANDBOX();
  const std::string entry =
      "[Desktop Entry]\r\nType=Application\r\nName=Tolvane\r\nExec=/opt/old %U\r\n\r\n[Desktop "
      "Action New]\nExec=x";
  RunResult run =
      RunSandboxed(Given(kGoodHosts, entry), {"--path", Path("r.html"), "--lang", "cs"});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ("", run.out);
  EXPECT_EQ(ReportText(Cells::Correct, Cells::Repaired, true), ReadFile(Path("r.html")));
  EXPECT_EQ(
      "[Desktop Entry]\r\nType=Application\r\nName=Tolvane\r\nExec=tolvane %u\n\r\n[Desktop "
      "Action New]\nExec=x\n",
      ReadFile(Path("out/entry")));
  EXPECT_EQ(kGoodHosts, ReadFile(Path("out/hosts")));
  EXPECT_EQ("/bin/cp -T -u --no-preserve=mode /dev/stdin /usr/share/applications/tolvane-url.desktop\n", PkexecLog());
}

TEST_F(CommandLineTest, WhatCannotBeReadIsReportedAndNeverReplaced) {
  SCOPED_TRACE(kWordsFrom);
  REQUIRE_SANDBOX();
  struct Case {
    const char* what;
    std::string prepare;
    std::string report;
  } cases[] = {
      {"hosts file is a directory",
       Given("", kGoodEntry) + "rm /etc/hosts\nmkdir /etc/hosts\necho keep >/etc/hosts/inside",
       ReportText(Cells::Internal, Cells::Correct)},
      {"desktop entry missing",
       Given(kGoodHosts, "") + "rm /usr/share/applications/tolvane-url.desktop",
       ReportText(Cells::Correct, Cells::Internal)},
      {"desktop entry is a directory",
       Given(kGoodHosts, "") + "rm /usr/share/applications/tolvane-url.desktop\nmkdir "
                               "/usr/share/applications/tolvane-url.desktop",
       ReportText(Cells::Correct, Cells::Internal)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RunResult run = RunSandboxed(c.prepare, {"--path", Path("r.html"), "--lang", "en"});
    EXPECT_EQ(0, run.status);
    EXPECT_EQ(c.report, ReadFile(Path("r.html")));
  }
  EXPECT_EQ("", PkexecLog());
}

TEST_F(CommandLineTest, AMissingHostsFileIsCreated) {
  SCOPED_TRACE(kWordsFrom);
  REQUIRE_SANDBOX();
  RunResult run = RunSandboxed(Given("", kGoodEntry) + "rm /etc/hosts",
                               {"--path", Path("r.html"), "--lang", "en"});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(ReportText(Cells::Repaired, Cells::Correct), ReadFile(Path("r.html")));
  EXPECT_EQ("127.0.0.1            local.tolvane.com\n", ReadFile(Path("out/hosts")));
  EXPECT_EQ("644\n", ReadFile(Path("out/hosts.mode")));
}

TEST_F(CommandLineTest, AReportThatCannotBeWrittenIsAFailure) {
  REQUIRE_SANDBOX();
  const std::string missingDir = Path("no-such-dir/r.html");
  for (const std::string& path : {std::string("/dev/full"), missingDir, std::string()}) {
    SCOPED_TRACE(path);
    RunResult run = RunSandboxed(Given(kGoodHosts, kGoodEntry), {"--path", path, "--lang", "en"});
    EXPECT_EQ(255, run.status);
    EXPECT_EQ("Can't write " + path + "\n", run.out);
  }
  EXPECT_FALSE(Exists(missingDir));
}

TEST_F(CommandLineTest, FailedRepairsAreReportedAndLeaveTheTargetsWhole) {
  SCOPED_TRACE(kWordsFrom);
  REQUIRE_SANDBOX();
  const std::string brokenHosts = "127.0.0.1 localhost\n10.0.0.1 local.tolvane.com\n";
  const std::string brokenEntry = "[Desktop Entry]\nType=Application\nExec=old\n";
  struct Case {
    const char* what;
    std::string prepare;
    std::string wrapper;
  } cases[] = {
      {"refused", "echo FAKE_PKEXEC_REFUSE=1 >>$D/bin/settings", ""},
      {"refused, SIGCHLD ignored by the parent", "echo FAKE_PKEXEC_REFUSE=1 >>$D/bin/settings", "trap '' CHLD;"},
      {"no pkexec on PATH", "", "PATH=$D/no-such-bin"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RunResult run = RunSandboxed(Given(brokenHosts, brokenEntry) + c.prepare,
                                 {"--path", Path("r.html"), "--lang", "en"}, c.wrapper);
    EXPECT_EQ(0, run.status);
    EXPECT_EQ("", run.out);
    EXPECT_EQ(ReportText(Cells::Failed, Cells::Failed), ReadFile(Path("r.html")));
    EXPECT_EQ(brokenHosts, ReadFile(Path("out/hosts")));
    EXPECT_EQ(brokenEntry, ReadFile(Path("out/entry")));
  }
}

// The text is staged in memory: what stands at the old temporary path, and a
// full /tmp, make no difference.
TEST_F(CommandLineTest, NothingAtTheOldTemporaryPathMattersToARepair) {
  SCOPED_TRACE(kWordsFrom);
  REQUIRE_SANDBOX();
  struct Case {
    const char* what;
    const char* plant;
  } cases[] = {
      {"link to a victim's file", "ln -s /tmp/victim /tmp/check_hosts_tmp"},
      {"fifo", "mkfifo /tmp/check_hosts_tmp"},
      {"directory", "mkdir /tmp/check_hosts_tmp"},
      {"file", "echo attacker >/tmp/check_hosts_tmp"},
      {"full /tmp",
       "touch /tmp/check_hosts_tmp.lock /tmp/check_hosts_tmp\nmount -o remount,size=1m /tmp\n"
       "dd if=/dev/zero of=/tmp/fill bs=4k 2>/dev/null || true"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RunResult run = RunSandboxed(Given("10.0.0.1 local.tolvane.com\n", kGoodEntry) +
                                     "echo victim >/tmp/victim\nchown 65534 /tmp/victim\n" +
                                     c.plant + "\nchown -h 65534 /tmp/check_hosts_tmp",
                                 {"--path", Path("r.html"), "--lang", "en"}, "",
                                 "cat /tmp/victim >$D/victim.after");
    EXPECT_EQ(0, run.status);
    EXPECT_EQ(ReportText(Cells::Repaired, Cells::Correct), ReadFile(Path("r.html")));
    EXPECT_EQ("127.0.0.1            local.tolvane.com\n", ReadFile(Path("out/hosts")));
    EXPECT_EQ("victim\n", ReadFile(Path("victim.after")));
  }
}
