#include "testsupport/TestSupport.h"

#include "common/LineSearch.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>

namespace testsupport {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteFile(const std::string& path, const std::string& content, mode_t mode) {
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    ASSERT_TRUE(out.good()) << path;
  }
  ASSERT_EQ(0, ::chmod(path.c_str(), mode)) << path;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    return 0;
  }
  return st.st_mode & 07777;
}

void Age(const std::string& path) {
  struct timespec times[2] = {{0, UTIME_NOW}, {}};
  (void)::clock_gettime(CLOCK_REALTIME, &times[1]);
  times[1].tv_sec -= 3600;
  EXPECT_EQ(0, ::utimensat(AT_FDCWD, path.c_str(), times, 0)) << path;
}

bool RunningAsRoot() { return ::geteuid() == 0; }

void AtEverySearchWidth(const std::function<void()>& body) {
  using NSCheckerTool::SearchWidth;
  for (const auto& [width, name] :
       {std::pair{SearchWidth::kAvx2, "AVX2"}, std::pair{SearchWidth::kSse2, "SSE2"},
        std::pair{SearchWidth::kPlain, "one byte at a time"}}) {
    SCOPED_TRACE(std::string("search width: ") + name);
    NSCheckerTool::UseSearchWidth(width);
    body();
  }
  NSCheckerTool::UseSearchWidth(SearchWidth::kAvx2);
}

bool InChild(const std::function<bool()>& body) {
  std::cout.flush();
  const pid_t child = ::fork();
  if (child < 0) {
    return false;
  }
  if (child == 0) {
    ::_exit(body() ? 0 : 1);
  }
  int status = 0;
  return ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

const char kWordsFrom[] =
    "the report's words are expected as testsupport/catalogue.tsv gives them; the program's are "
    "in checktool/Messages.cpp";

std::string Word(int id, bool chinese) {
  std::istringstream in(ReadFile(CATALOGUE_FILE));
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t first = line.find('\t');
    const std::size_t second = line.find('\t', first + 1);
    if (line.empty() || line[0] == '#' || second == std::string::npos) {
      continue;
    }
    if (std::stoi(line.substr(0, first)) == id) {
      return chinese ? line.substr(first + 1, second - first - 1) : line.substr(second + 1);
    }
  }
  ADD_FAILURE() << "no word " << id << " in " << CATALOGUE_FILE;
  return "";
}

std::string StatusCells(Cells cells, bool chinese) {
  const std::string green = "<td id=textcenter width=\"100\"><font color=\"#008000\">";
  const std::string red = "<td id=textcenter width=\"100\"><font color=\"red\">";
  const std::string end = "</font></td>\n";
  const std::string empty = "<td id=textcenter width=\"100\"></td>\n";
  const std::string error = red + Word(4, chinese) + end;
  switch (cells) {
    case Cells::Correct:
      return green + Word(3, chinese) + end + "<td id=textcenter></td>\n" + empty;
    case Cells::Repaired:
      return error + green + Word(34, chinese) + end + empty;
    case Cells::Failed:
      return error + red + Word(35, chinese) + end + empty;
    case Cells::Internal:
      return error + red + Word(35, chinese) + end + "<td id=textcenter width=\"100\">" +
             Word(36, chinese) + "</td>\n";
  }
  return "";
}

std::string ReportText(Cells hosts, Cells setup, bool chinese) {
  std::string text =
      "<table border=\"1\" align=\"center\" cellspacing=\"0\" cellpadding=\"8\">\n<tr>\n";
  for (int id = 26; id <= 29; ++id) {
    text += "<th id=textcenter>" + Word(id, chinese) + "</th>\n";
  }
  text += "<tr>\n<td width=\"180\">" + Word(31, chinese) + "</td>\n" + StatusCells(hosts, chinese) +
          "</tr>\n<tr>\n<td width=\"180\">" + Word(30, chinese) + "</td>\n" +
          StatusCells(setup, chinese) + "</tr>\n</table><br/>\n";
  return text;
}

pugi::xml_node ParseSection(pugi::xml_document& doc, const char* xml, const char* name) {
  pugi::xml_parse_result parsed = doc.load_string(xml, pugi::parse_default);
  EXPECT_TRUE(parsed) << parsed.description() << " in " << xml;
  return doc.child(name);
}

}  // namespace testsupport

std::string TempDirTest::BaseDir() const { return ::testing::TempDir(); }

void TempDirTest::SetUp() {
  std::string base = BaseDir();
  if (!base.empty() && base.back() != '/') {
    base += '/';
  }
  std::string templ = base + "checktool-test.XXXXXX";
  ASSERT_NE(nullptr, ::mkdtemp(templ.data())) << templ;
  m_strTmpDir = templ;
}

void TempDirTest::TearDown() {
  for (auto it = m_vecSavedEnv.rbegin(); it != m_vecSavedEnv.rend(); ++it) {
    if (it->wasSet) {
      ::setenv(it->name.c_str(), it->value.c_str(), 1);
    } else {
      ::unsetenv(it->name.c_str());
    }
  }
  m_vecSavedEnv.clear();
  if (m_strTmpDir.empty()) {
    return;
  }
  if (HasFailure()) {
    std::cout << "Test directory kept: " << m_strTmpDir << "\n";
    return;
  }
  std::string command =
      "chmod -R u+rwx '" + m_strTmpDir + "' 2>/dev/null; rm -rf '" + m_strTmpDir + "'";
  if (std::system(command.c_str()) != 0) {
    std::cout << "Could not remove " << m_strTmpDir << "\n";
  }
}

void TempDirTest::SetEnv(const char* name, const char* value) {
  const char* old = std::getenv(name);
  m_vecSavedEnv.push_back({name, old != nullptr, old ? old : ""});
  if (value) {
    ::setenv(name, value, 1);
  } else {
    ::unsetenv(name);
  }
}

void TempDirTest::InstallFakePkexec() {
  ASSERT_EQ(0, ::mkdir(Path("bin").c_str(), 0755));
  testsupport::WriteFile(Path("bin/pkexec"), testsupport::ReadFile(FAKE_PKEXEC_SCRIPT), 0755);
  const char* path = std::getenv("PATH");
  std::string newPath = Path("bin") + ":" + (path ? path : "/usr/bin:/bin");
  SetEnv("PATH", newPath.c_str());
  testsupport::WriteFile(
      Path("bin/settings"),
      "FAKE_PKEXEC_ROOT='" + m_strTmpDir + "'\nFAKE_PKEXEC_LOG='" + Path("pkexec.log") + "'\n");
}

void TempDirTest::RefuseFakePkexec() {
  std::string settings = testsupport::ReadFile(Path("bin/settings"));
  testsupport::WriteFile(Path("bin/settings"), settings + "FAKE_PKEXEC_REFUSE=1\n");
}

std::string TempDirTest::PkexecLog() const { return testsupport::ReadFile(Path("pkexec.log")); }
