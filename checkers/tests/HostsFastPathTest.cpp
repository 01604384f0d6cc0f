// The check builds its corrected text without showing every line to
// CheckError when CheckError is its own. These tests hold both ways of
// building (the fast one at every width of its search) against a plain
// line-by-line reading, and the result against the resolver's reading, on
// real hosts files and variations of them.
#include "checkers/LinuxHostsChecker.h"

#include "testsupport/ResolverReading.h"
#include "testsupport/TestSupport.h"

#include <dirent.h>
#include <algorithm>
#include <set>
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

// Calls check(variant, hosts) for every sample hosts file (its first
// maxLines lines), variations of it, and sets of expected names; answers how
// many it made.
template <typename Check>
int ForEachRealCase(std::size_t maxLines, const Check& check) {
  DIR* dir = ::opendir(HOSTS_DATA_DIR);
  if (dir == nullptr) {
    return 0;
  }
  std::vector<std::string> files;
  while (const struct dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() > 6 && name.compare(name.size() - 6, 6, ".hosts") == 0) {
      files.push_back(name);
    }
  }
  ::closedir(dir);

  const std::string product = "local.tolvane.com";
  int cases = 0;
  for (const std::string& file : files) {
    std::string original = ReadFile(std::string(HOSTS_DATA_DIR) + "/" + file);
    std::size_t kept = 0;
    for (std::size_t line = 0; line < maxLines && kept < original.size(); ++line) {
      const std::size_t newline = original.find('\n', kept);
      kept = newline == std::string::npos ? original.size() : newline + 1;
    }
    original.erase(kept);
    std::string noFinalNewline = original;
    noFinalNewline.pop_back();
    // The domain where people leave it: as an alias of a blocklist line, of
    // the 127.0.1.1 line of the machine's name and of the ::1 line, in
    // capitals, with "#" right after it, followed by aliases.
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
        "0.0.0.0 ads.example.net " + product + "\n" + original,
        original + "127.0.1.1\tmybox.example.org mybox " + product + "\n",
        original + "::1 localhost ip6-localhost ip6-loopback LOCAL.Tolvane.com\n",
        original + "10.0.0.5 Local.Tolvane.COM#old\n127.0.0.1 " + product + " mybox\n",
        "10.0.0.5 " + product + " # moved\n" + original + "0.0.0.0 " + product + " " + product +
            " a.example\n" + "127.0.0.1 LOCAL.TOLVANE.COM\n",
        "",
        "\n",
        // What wider vectors could get wrong: the name's first bytes just
        // before it, bytes from 0x80 next to it, in capitals; the name at
        // the last position of a 32-byte vector and at the text's end.
        original + "0.0.0.0 local.tolvLOCAL.TOLVANE.COM\xc3\xa9\n127.0.0.1\t\xe9" + product + "\n",
        std::string(21, ' ') + "127.0.0.1 LOCAL.TOLVANE.COM",
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
        check(variants[v], hosts);
        ++cases;
      }
    }
  }
  return cases;
}

}  // namespace

TEST(HostsFastPathTest, BothWaysMatchAPlainReadingOnRealFiles) {
  const int cases = ForEachRealCase(
      std::string::npos,
      [](const std::string& text, const std::map<std::string, std::string>& hosts) {
        TestableHostsContent reference(hosts);
        const auto expected = reference.Reference(text);
        auto build = [&](bool onlyNamingLines) {
          TestableHostsContent checker(hosts);
          EXPECT_EQ(expected.first, checker.BuildContent(std::string(text), onlyNamingLines));
          EXPECT_TRUE(expected.second == checker.Content()) << "content differs";
        };
        build(false);
        AtEverySearchWidth([&] { build(true); });
      });
  EXPECT_GT(cases, 300) << "sample hosts files at " << HOSTS_DATA_DIR;
}

// What the resolver reads in the corrected text: each expected domain on
// exactly one line, the canonical one; every other name with the same
// addresses in the same order as before; lines that name no expected domain
// as they were.
TEST(HostsFastPathTest, TheResolverReadsEachDomainOnceAndEveryOtherNameAsBefore) {
  // The first 2000 lines of each file: every kind of line they hold, at a
  // cost the independent reading can bear.
  const int cases = ForEachRealCase(
      2000, [](const std::string& text, const std::map<std::string, std::string>& hosts) {
        TestableHostsContent checker(hosts);
        checker.BuildContent(std::string(text), true);
        const std::string& out = checker.Content();
        std::set<std::string> domains;
        for (const auto& entry : hosts) {
          domains.insert(resolver::Folded(entry.first));
        }
        // The expected domains each line names, folded.
        auto domainsNamed = [&](const std::string& line) {
          std::set<std::string> named;
          for (const std::string& name : resolver::Read(line).names) {
            if (domains.count(resolver::Folded(name)) != 0) {
              named.insert(resolver::Folded(name));
            }
          }
          return named;
        };
        const std::vector<std::string> before = resolver::SplitLines(text);
        const std::vector<std::string> after = resolver::SplitLines(out);
        ASSERT_GE(after.size(), before.size());
        for (std::size_t i = 0; i < before.size(); ++i) {
          if (domainsNamed(before[i]).empty()) {
            ASSERT_EQ(before[i], after[i]) << "line " << i + 1;
          }
        }
        std::map<std::string, std::vector<std::string>> naming;
        for (const std::string& line : after) {
          for (const std::string& domain : domainsNamed(line)) {
            naming[domain].push_back(line);
          }
        }
        for (const auto& entry : hosts) {
          std::string canonical = entry.second + "     ";
          canonical.resize(std::max<std::size_t>(canonical.size(), 21), ' ');
          canonical += entry.first;
          EXPECT_EQ(std::vector<std::string>{canonical}, naming[resolver::Folded(entry.first)])
              << entry.first;
        }
        auto others = [&](const std::string& textRead) {
          auto byName = resolver::AddressesByName(textRead);
          for (const std::string& domain : domains) {
            byName.erase(domain);
          }
          return byName;
        };
        EXPECT_TRUE(others(text) == others(out)) << "another name resolves differently";
      });
  EXPECT_GT(cases, 300) << "sample hosts files at " << HOSTS_DATA_DIR;
}
