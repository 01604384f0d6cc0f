#include "common/LineReader.h"

#include "common/LineSearch.h"

#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

namespace NSCheckerTool {

ssize_t FdSource::Read(char* into, std::size_t size) {
  for (;;) {
    const ssize_t n = ::read(m_nFd, into, size);
    if (n >= 0 || errno != EINTR) {
      return n;
    }
  }
}

ssize_t TextSource::Read(char* into, std::size_t size) {
  const std::size_t n = std::min(size, m_text.size());
  std::memcpy(into, m_text.data(), n);
  m_text.remove_prefix(n);
  return static_cast<ssize_t>(n);
}

namespace {

// Hands out the lines of complete lines text (it ends with "\n", or is the
// text's last line).
class Lines {
 public:
  Lines(const std::vector<std::string>* needles, LineSink& sink)
      : m_pNeedles(needles), m_sink(sink) {}

  void Complete(std::string_view text) {
    const char* const base = text.data();
    const std::size_t size = text.size();
    auto lineEnd = [&](std::size_t begin) {
      const void* newline = std::memchr(base + begin, '\n', size - begin);
      return newline != nullptr ? static_cast<std::size_t>(static_cast<const char*>(newline) - base)
                                : size;
    };
    if (m_pNeedles == nullptr) {
      for (std::size_t begin = 0; begin < size;) {
        const std::size_t end = lineEnd(begin);
        m_sink.Line(text.substr(begin, end - begin));
        m_sink.Between(text.substr(end, end < size ? 1 : 0));
        begin = end + 1;
      }
      return;
    }
    LinesContaining(text, *m_pNeedles, m_vecStarts);
    std::size_t copied = 0;
    for (const std::size_t begin : m_vecStarts) {
      const std::size_t end = lineEnd(begin);
      m_sink.Between(text.substr(copied, begin - copied));
      m_sink.Line(text.substr(begin, end - begin));
      copied = end;  // its newline goes with what follows
    }
    m_sink.Between(text.substr(copied));
  }

 private:
  const std::vector<std::string>* m_pNeedles;
  LineSink& m_sink;
  std::vector<std::size_t> m_vecStarts;
};

// One reading of a text, start to end, through one buffer: the complete
// lines in it go out as they come, and a line that fills it is followed to
// its newline as a long line.
class Reading {
 public:
  Reading(ByteSource& source, const std::vector<std::string>* needles, LineSink& sink,
          std::size_t bufferSize)
      : m_source(source), m_sink(sink), m_lines(needles, sink),
        m_nSize(std::max<std::size_t>(bufferSize, 1)),
        m_room(static_cast<char*>(::operator new[](m_nSize + kReadAlign, std::align_val_t{kPage}))),
        m_buf(m_room.get()), m_bPieces(sink.TakesPieces()) {}

  // False when the source failed.
  bool Run() {
    for (;;) {
      const ssize_t n = m_source.Read(m_buf + m_nFilled, m_nSize - m_nFilled);
      if (n < 0) {
        return false;
      }
      const auto read = static_cast<std::size_t>(n);
      if (m_bInLongLine ? LongLineRead(read) : LinesRead(read)) {
        return true;
      }
    }
  }
  std::size_t LongLines() const { return m_nLongLines; }

 private:
  // The text read so far, at most m_nSize bytes, stands at m_buf, which moves
  // inside m_room (page-aligned) so that every read lands on a 64-byte
  // boundary: in a bare read() loop over a large file the kernel's copy took
  // about a tenth longer into a place 16 bytes off one.
  static constexpr std::size_t kPage = 4096;
  static constexpr std::size_t kReadAlign = 64;
  struct PageFree {
    void operator()(char* room) const { ::operator delete[](room, std::align_val_t{kPage}); }
  };

  // read more bytes after the text read so far; true at the end of the text.
  bool LinesRead(std::size_t read) {
    // Only what was just read can hold the last newline: the lines before it
    // were handed out already.
    const std::size_t from = m_nFilled;
    m_nFilled += read;
    HandOut(from);
    if (read == 0) {
      if (m_nFilled > 0) {
        m_lines.Complete(std::string_view(m_buf, m_nFilled));  // the last line, without "\n"
      }
      return true;
    }
    if (m_nFilled == m_nSize) {
      StartLongLine();
    }
    return false;
  }

  // One line fills the buffer: gather it whole, or hand it on in pieces.
  void StartLongLine() {
    ++m_nLongLines;
    m_bInLongLine = true;
    if (m_bPieces) {
      m_sink.Piece(std::string_view(m_buf, m_nFilled), false);
    } else {
      m_longLine.assign(m_buf, m_nFilled);
    }
    Keep(m_buf, 0);
  }

  // read more bytes of a long line, from the start of the buffer: until its
  // newline, everything read belongs to it. True at the end of the text.
  bool LongLineRead(std::size_t read) {
    const void* newline = std::memchr(m_buf, '\n', read);
    if (newline == nullptr) {
      if (m_bPieces) {
        m_sink.Piece(std::string_view(m_buf, read), read == 0);
      } else {
        m_longLine.append(m_buf, read);
        if (read == 0) {
          m_lines.Complete(m_longLine);
        }
      }
      return read == 0;
    }
    const auto rest = static_cast<std::size_t>(static_cast<const char*>(newline) - m_buf);
    m_bInLongLine = false;
    if (m_bPieces) {
      m_sink.Piece(std::string_view(m_buf, rest), true);
      m_sink.Between(std::string_view(m_buf + rest, 1));
    } else {
      m_longLine.append(m_buf, rest + 1);
      m_lines.Complete(m_longLine);
      std::string().swap(m_longLine);
    }
    Keep(m_buf + rest + 1, read - rest - 1);
    HandOut(0);  // what follows the long line may hold complete lines already
    return false;
  }

  // Hands out the complete lines of the text read so far, whose last newline
  // can only stand at from or after it, and keeps the unfinished rest.
  void HandOut(std::size_t from) {
    const void* last = m_nFilled > from ? ::memrchr(m_buf + from, '\n', m_nFilled - from) : nullptr;
    if (last != nullptr) {
      const std::size_t done = static_cast<std::size_t>(static_cast<const char*>(last) - m_buf) + 1;
      m_lines.Complete(std::string_view(m_buf, done));
      Keep(m_buf + done, m_nFilled - done);
    }
  }

  // Keeps count bytes from from as the text read so far, ending where the
  // next read is to land.
  void Keep(const char* from, std::size_t count) {
    char* const to = m_room.get() + (kReadAlign - count % kReadAlign) % kReadAlign;
    std::memmove(to, from, count);
    m_buf = to;
    m_nFilled = count;
  }

  ByteSource& m_source;
  LineSink& m_sink;
  Lines m_lines;
  const std::size_t m_nSize;
  const std::unique_ptr<char[], PageFree> m_room;
  char* m_buf;
  std::size_t m_nFilled = 0;  // m_buf holds at most one unfinished line and what follows
  const bool m_bPieces;
  bool m_bInLongLine = false;
  std::string m_longLine;  // a line longer than the buffer, gathered
  std::size_t m_nLongLines = 0;
};

}  // namespace

bool ReadLines(ByteSource& source, const std::vector<std::string>* needles, LineSink& sink,
               std::size_t bufferSize, std::size_t* longLines) {
  Reading reading(source, needles, sink, bufferSize);
  const bool read = reading.Run();
  if (longLines != nullptr) {
    *longLines = reading.LongLines();
  }
  return read;
}

}  // namespace NSCheckerTool
