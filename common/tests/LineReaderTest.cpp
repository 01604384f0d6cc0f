#include "common/LineReader.h"

#include "common/LineSearch.h"

#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using NSCheckerTool::ReadLines;

namespace {

// What the reader handed out, and the text put together again from it.
class Recording : public NSCheckerTool::LineSink {
 public:
  void Line(std::string_view line) override {
    lines.emplace_back(line);
    text += line;
  }
  void Between(std::string_view bytes) override { text += bytes; }
  std::vector<std::string> lines;
  std::string text;
};

// The plain reading: split at "\n", a last line without one counts.
std::vector<std::string> Split(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t begin = 0;
  while (begin < text.size()) {
    const std::size_t end = std::min(text.find('\n', begin), text.size());
    lines.push_back(text.substr(begin, end - begin));
    begin = end + 1;
  }
  return lines;
}

std::vector<std::string> Containing(const std::vector<std::string>& lines,
                                    const std::vector<std::string>& needles) {
  std::vector<std::string> found;
  for (const std::string& line : lines) {
    for (const std::string& needle : needles) {
      if (NSCheckerTool::FindIgnoringCase(line.data(), line.data() + line.size(), needle)) {
        found.push_back(line);
        break;
      }
    }
  }
  return found;
}

}  // namespace

// Random texts of bytes that matter (newlines, CR, NUL, both letter cases)
// against the plain reading, with the buffer boundary at every position, at
// every width of the search.
TEST(LineReaderTest, AgreesWithAPlainReadingWhereverTheBufferEnds) {
  const std::vector<std::string> needles = {"ab", "Q"};
  const char alphabet[] = {'a', 'A', 'b', 'B', 'q', '\n', '\n', '\r', '\0', ' '};
  testsupport::AtEverySearchWidth([&] {
    std::mt19937 random(7);  // NOLINT(cert-msc32-c,cert-msc51-cpp): the same texts every run
    for (int round = 0; round < 300; ++round) {
      std::string text(random() % 40, ' ');
      for (char& c : text) {
        c = alphabet[random() % sizeof alphabet];
      }
      const std::vector<std::string> every = Split(text);
      const std::vector<std::string> naming = Containing(every, needles);
      for (std::size_t size = 1; size <= text.size() + 1; ++size) {
        SCOPED_TRACE("buffer of " + std::to_string(size) + " for \"" + text + "\"");
        for (const bool all : {true, false}) {
          Recording seen;
          NSCheckerTool::TextSource source(text);
          ASSERT_TRUE(ReadLines(source, all ? nullptr : &needles, seen, size));
          ASSERT_EQ(all ? every : naming, seen.lines);
          ASSERT_EQ(text, seen.text);
        }
      }
    }
  });
}

TEST(LineReaderTest, LongLinesLastLinesAndOddBytes) {
  const std::string longName(100, 'x');
  struct Case {
    const char* what;
    std::string text;
    std::vector<std::string> naming;
  } cases[] = {
      {"a line longer than the buffer, the name at its end",
       "1.2.3.4 a\n0.0.0.0 " + longName + " LOCAL.tolvane.com\n::1 b\n",
       {"0.0.0.0 " + longName + " LOCAL.tolvane.com"}},
      {"a long line without the name, then one with it",
       "0.0.0.0 " + longName + "\n10.0.0.1 local.tolvane.com",
       {"10.0.0.1 local.tolvane.com"}},
      {"a long last line without newline",
       "a\n" + longName + "local.tolvane.com",
       {longName + "local.tolvane.com"}},
      {"NUL and CR kept",
       std::string("10.0.0.1 local.tolvane.com\0x\r\n", 30) + "\r\n",
       {std::string("10.0.0.1 local.tolvane.com\0x\r", 29)}},
      {"empty", "", {}},
      {"only newlines", "\n\n", {}},
  };
  const std::vector<std::string> needles = {"local.tolvane.com"};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Recording seen;
    NSCheckerTool::TextSource source(c.text);
    ASSERT_TRUE(ReadLines(source, &needles, seen, 16));
    EXPECT_EQ(c.naming, seen.lines);
    EXPECT_EQ(c.text, seen.text);
  }
}

TEST(LineReaderTest, AFailingSourceFailsTheReading) {
  class Failing : public NSCheckerTool::ByteSource {
   public:
    ssize_t Read(char* into, std::size_t size) override {
      if (m_bDone) {
        return -1;
      }
      m_bDone = true;
      const std::string text = "a\nb";
      const std::size_t n = std::min(size, text.size());
      std::copy_n(text.data(), n, into);
      return static_cast<ssize_t>(n);
    }

   private:
    bool m_bDone = false;
  } source;
  Recording seen;
  EXPECT_FALSE(ReadLines(source, nullptr, seen, 64));
  EXPECT_EQ(std::vector<std::string>{"a"}, seen.lines);  // what came before stands
}
