#include "common/LineSearch.h"

#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using NSCheckerTool::EqualIgnoringCase;
using NSCheckerTool::FindIgnoringCase;
using NSCheckerTool::LinesContaining;

namespace {

// The plain reading: every position, every byte, A-Z folded to a-z.
char Fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::ptrdiff_t NaiveFind(const std::string& text, std::size_t from, const std::string& needle) {
  if (needle.empty()) {
    return -1;
  }
  for (std::size_t at = from; at + needle.size() <= text.size(); ++at) {
    std::size_t i = 0;
    while (i < needle.size() && Fold(text[at + i]) == Fold(needle[i])) {
      ++i;
    }
    if (i == needle.size()) {
      return static_cast<std::ptrdiff_t>(at);
    }
  }
  return -1;
}

std::vector<std::size_t> NaiveLines(const std::string& text,
                                    const std::vector<std::string>& needles) {
  std::vector<std::size_t> starts;
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t end = text.find('\n', begin);
    if (end == std::string::npos) {
      end = text.size();
    }
    const std::string line = text.substr(begin, end - begin);
    for (const std::string& needle : needles) {
      if (NaiveFind(line, 0, needle) >= 0) {
        starts.push_back(begin);
        break;
      }
    }
    begin = end + 1;
  }
  return starts;
}

std::ptrdiff_t Find(const std::string& text, std::size_t from, const std::string& needle) {
  const char* hit = FindIgnoringCase(text.data() + from, text.data() + text.size(), needle);
  return hit ? hit - text.data() : -1;
}

}  // namespace

TEST(LineSearchTest, FindsEveryLetterCaseAndNothingElse) {
  const std::string pad(40, 'x');
  const std::string domain = "local.tolvane.com";
  // A vector tests 16 or 32 positions, a round four vectors; the bytes
  // tested are two rare ones of the needle, not its first.
  auto at = [](std::size_t n) { return std::string(n, 'x'); };
  constexpr std::size_t vec = NSCheckerTool::kWidestVector;  // the widest vector and round
  constexpr std::size_t rnd = NSCheckerTool::kRoundVectors * vec;
  struct Case {
    std::string text, needle;
    std::ptrdiff_t at;
  } cases[] = {
      {"local.tolvane.com", "local.tolvane.com", 0},
      {"LOCAL.Tolvane.COM", "local.tolvane.com", 0},
      {"a local.tolvane.com", "LOCAL.TOLVANE.COM", 2},
      {pad + "Local.Tolvane.com" + pad, "local.tolvane.com", 40},
      {pad + "local.tolvane.co", "local.tolvane.com", -1},
      {pad + "local.tolvane.cOm", "local.tolvane.com", 40},  // the very end
      {"loc", "local", -1},
      {"", "a", -1},
      {"abc", "", -1},
      // Bit 5 folds more than letters; only A-Z may match their lower case.
      {pad + "`b", "@b", -1},
      {pad + "@B", "@b", 40},
      {pad + "\xc0x", "\xe0x", -1},
      {pad + "[a{a", "{a", 42},
      {pad + "1.2.3.4", "1.2.3.4", 40},
      {pad + "\x11.2", "1.2", -1},
      // At the edges of the vectors of a round, at the text's end after a
      // round and after a vector, the needle's bytes across a vector's
      // edge, the end cut short.
      {at(vec - 1) + "Local.tolvane.com" + pad, domain, vec - 1},
      {at(vec) + "LOCAL.TOLVANE.COM" + at(100), domain, vec},
      {at(rnd - vec - 1) + "local.tolvane.com" + pad, domain, rnd - vec - 1},
      {at(rnd - 1) + "local.Tolvane.com", domain, rnd - 1},
      {at(rnd + vec - 1) + "local.tolvane.coM", domain, rnd + vec - 1},
      {at(vec - 9) + "local.tolvane.com" + pad, domain, vec - 9},
      {at(rnd) + "local.tolvane.co", domain, -1},
      // Its first bytes just before it, other bytes from 0x80 next to it, in
      // capitals, and alike but for bit 7.
      {at(20) + "local.tolvlocal.tolvane.com" + pad, domain, 30},
      {pad + "\xecLOCAL.TOLVANE.COM\xcc" + pad, domain, 41},
      {pad + pad + "\xccocal.tolvane.com" +
           "local.tol\xf6"
           "ane.com" +
           pad,
       domain, -1},
  };
  testsupport::AtEverySearchWidth([&] {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.text + " / " + c.needle);
      EXPECT_EQ(c.at, Find(c.text, 0, c.needle));
      // A whole match is an equal text.
      EXPECT_EQ(c.at == 0 && c.text.size() == c.needle.size(), EqualIgnoringCase(c.text, c.needle));
    }
  });
  EXPECT_TRUE(EqualIgnoringCase("", ""));
  EXPECT_FALSE(EqualIgnoringCase("@b", "`b"));
  EXPECT_FALSE(EqualIgnoringCase("\xc1", "\xe1"));
}

// Random texts over bytes that differ only in bit 5, at every length around
// the vectors and rounds of vectors, against the plain reading, at every
// width.
TEST(LineSearchTest, AgreesWithAPlainReading) {
  const char alphabet[] = {'a', 'A', 'b', 'B', '@', '`', '\n', '.', '\xc1', '\xe1'};
  // A fixed seed: the same texts on every run, so a failure can be repeated.
  std::mt19937 random(20261209);  // NOLINT(cert-msc32-c,cert-msc51-cpp)
  auto pick = [&](std::size_t length) {
    std::string s;
    for (std::size_t i = 0; i < length; ++i) {
      s += alphabet[random() % sizeof alphabet];
    }
    return s;
  };
  int compared = 0;
  testsupport::AtEverySearchWidth([&] {
    compared = 0;
    for (int round = 0; round < 3000; ++round) {
      // Some long enough for rounds of the widest vectors.
      const std::string text =
          pick(round % 16 == 0 ? NSCheckerTool::kRoundVectors * NSCheckerTool::kWidestVector + 2 +
                                     random() % 170
                               : random() % 70);
      std::vector<std::string> needles;
      for (std::size_t n = 1 + random() % 3; n > 0; --n) {
        std::string needle = pick(1 + random() % 4);
        needle.erase(std::remove(needle.begin(), needle.end(), '\n'), needle.end());
        needles.push_back(needle);
      }
      SCOPED_TRACE(::testing::PrintToString(text));
      for (std::size_t from = 0; from <= text.size(); ++from) {
        ASSERT_EQ(NaiveFind(text, from, needles[0]), Find(text, from, needles[0]))
            << "needle " << ::testing::PrintToString(needles[0]) << " from " << from;
      }
      ASSERT_EQ(NaiveLines(text, needles), LinesContaining(text, needles));
      ++compared;
    }
  });
  EXPECT_EQ(3000, compared);
}

TEST(LineSearchTest, LinesAreNamedOnceAndInOrder) {
  const std::string text =
      "first line\n"
      "127.0.0.1 local.tolvane.com LOCAL.tolvane.com\n"  // two hits, one line
      "\n"
      "0.0.0.0 b.example\n"
      "# Local.Tolvane.Com\n"
      "last without newline b.EXAMPLE";
  EXPECT_EQ((std::vector<std::size_t>{11, 58, 76, 96}),
            LinesContaining(text, {"b.example", "local.tolvane.com"}));
  EXPECT_EQ((std::vector<std::size_t>{}), LinesContaining(text, {"absent"}));
  EXPECT_EQ((std::vector<std::size_t>{}), LinesContaining(text, {""}));
  EXPECT_EQ((std::vector<std::size_t>{}), LinesContaining("", {"a"}));
  EXPECT_EQ((std::vector<std::size_t>{0}), LinesContaining("A", {"a"}));
}
