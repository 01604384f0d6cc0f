// The check builds its corrected text without showing every line to
// CheckError when CheckError is its own. These tests hold both ways of
// building against a plain line-by-line reading, on real hosts files and
// variations of them.
#include "checkers/LinuxHostsChecker.h"

#include "testsupport/TestSupport.h"

#include <dirent.h>
#include <sstream>

using namespace testsupport;

namespace {

class TestableHostsContent : public LinuxHostsChecker {
 public:
  explicit TestableHostsContent(const std::map<std::string, std::string>& hosts) {
    m_mapHosts = hosts;
  }
  using HostsChecker::BuildContent;
  const std::string& Content() const { return m_strHostsContent; }

  // The plain reading: every line, in order, through CheckError.
  std::pair<bool, std::string> Reference(const std::string& text) {
    std::map<std::string, bool> seen;
    for (const auto& entry : m_mapHosts) {
      seen[entry.first] = false;
    }
    std::istringstream in(text);
    std::string line;
    std::string out;
    bool changed = false;
    while (std::getline(in, line)) {
      changed = CheckError(line, m_mapHosts, seen) || changed;
      out += line + "\n";
    }
    for (const auto& flag : seen) {
      if (!flag.second) {
        out += MakeLine(flag.first, m_mapHosts[flag.first]) + "\n";
        changed = true;
      }
    }
    return {changed, out};
  }
};

std::string WithCrLf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') {
      out += '\r';
    }
    out += c;
  }
  return out;
}

// Names that stand as the second token of lines of the file, so that real
// lines get rewritten and commented out.
std::vector<std::string> NamesIn(const std::string& text, std::size_t count) {
  std::vector<std::string> names;
  std::istringstream in(text);
  std::string line;
  std::size_t n = 0;
  while (std::getline(in, line) && names.size() < count) {
    std::istringstream words(line);
    std::string address, name;
    if (words >> address >> name && address[0] != '#' && ++n % 97 == 1) {
      names.push_back(name);
    }
  }
  return names;
}

}  // namespace

TEST(HostsFastPathTest, BothWaysMatchAPlainReadingOnRealFiles) {
  DIR* dir = ::opendir(HOSTS_DATA_DIR);
  if (dir == nullptr) {
    GTEST_SKIP() << "no sample hosts files at " << HOSTS_DATA_DIR;
  }
  std::vector<std::string> files;
  while (const struct dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() > 6 && name.compare(name.size() - 6, 6, ".hosts") == 0) {
      files.push_back(name);
    }
  }
  ::closedir(dir);
  ASSERT_GE(files.size(), 5u);

  const std::string product = "local.tolvane.com";
  int compared = 0;
  for (const std::string& file : files) {
    const std::string original = ReadFile(std::string(HOSTS_DATA_DIR) + "/" + file);
    std::string noFinalNewline = original;
    noFinalNewline.pop_back();
    const std::string variants[] = {
        original,
        original + "127.0.0.1 " + product + "\n",
        "127.0.0.1\t" + product + "\n" + original + "::1 " + product + " alias\n",
        original + "127.0.0.1 x " + product + "\n#127.0.0.1 " + product + "\n",
        original + "  127.0.0.1   " + product + "   \n" + "127.0.0.1 " + product + "\n",
        original + "127.0.0.1 " + product + "x\n127.0.0.1 x" + product + "\n",
        WithCrLf(original + "127.0.0.1 " + product + "\n"),
        noFinalNewline,
        noFinalNewline + "\n127.0.0.1 " + product,
        "",
        "\n",
    };
    std::vector<std::map<std::string, std::string>> expectations = {
        {{product, "127.0.0.1"}},
        {{product, "127.0.0.1"}, {"localhost", "127.0.0.1"}, {"ip6-localhost", "::1"}},
    };
    std::map<std::string, std::string> fromFile;
    for (const std::string& name : NamesIn(original, 6)) {
      fromFile[name] = "10.1.2.3";
    }
    expectations.push_back(fromFile);

    for (const auto& hosts : expectations) {
      for (std::size_t v = 0; v < sizeof variants / sizeof variants[0]; ++v) {
        SCOPED_TRACE(file + ", variant " + std::to_string(v) + ", " + std::to_string(hosts.size()) +
                     " names");
        TestableHostsContent reference(hosts);
        const auto expected = reference.Reference(variants[v]);
        for (bool onlyNamingLines : {true, false}) {
          TestableHostsContent checker(hosts);
          EXPECT_EQ(expected.first,
                    checker.BuildContent(std::string(variants[v]), onlyNamingLines));
          EXPECT_TRUE(expected.second == checker.Content()) << "content differs";
          ++compared;
        }
      }
    }
  }
  EXPECT_GT(compared, 300);
}
