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

}  // namespace

bool ReadLines(ByteSource& source, const std::vector<std::string>* needles, LineSink& sink,
               std::size_t bufferSize) {
  // The text read so far, at most size bytes, stands at buf, which moves
  // inside room (page-aligned) so that every read lands on a 64-byte
  // boundary: in a bare read() loop over a large file the kernel's copy
  // took about a tenth longer into a place 16 bytes off one.
  constexpr std::size_t kPage = 4096;
  constexpr std::size_t kReadAlign = 64;
  const std::size_t size = std::max<std::size_t>(bufferSize, 1);
  struct PageFree {
    void operator()(char* room) const { ::operator delete[](room, std::align_val_t{kPage}); }
  };
  const std::unique_ptr<char[], PageFree> room(
      static_cast<char*>(::operator new[](size + kReadAlign, std::align_val_t{kPage})));
  char* buf = room.get();
  Lines lines(needles, sink);
  std::size_t filled = 0;  // buf[0, filled) holds at most one unfinished line and what follows
  std::string longLine;    // a line longer than the buffer, gathered
  bool inLongLine = false;
  const bool pieces = sink.TakesPieces();
  // Keeps count bytes from from as the text read so far, ending where the
  // next read is to land.
  auto keep = [&](const char* from, std::size_t count) {
    char* const to = room.get() + (kReadAlign - count % kReadAlign) % kReadAlign;
    std::memmove(to, from, count);
    buf = to;
    filled = count;
  };
  // Hands out the complete lines of buf[0, filled), whose last newline can
  // only stand at from or after it, and keeps the unfinished rest.
  auto handOut = [&](std::size_t from) {
    const void* last = filled > from ? ::memrchr(buf + from, '\n', filled - from) : nullptr;
    if (last != nullptr) {
      const std::size_t done = static_cast<std::size_t>(static_cast<const char*>(last) - buf) + 1;
      lines.Complete(std::string_view(buf, done));
      keep(buf + done, filled - done);
    }
  };
  for (;;) {
    const ssize_t n = source.Read(buf + filled, size - filled);
    if (n < 0) {
      return false;
    }
    const std::size_t read = static_cast<std::size_t>(n);
    if (inLongLine) {
      // Until its newline, everything read belongs to the long line.
      const void* newline = std::memchr(buf, '\n', read);
      if (newline == nullptr) {
        if (pieces) {
          sink.Piece(std::string_view(buf, read), read == 0);
        } else {
          longLine.append(buf, read);
        }
        if (read == 0) {
          if (!pieces) {
            lines.Complete(longLine);
          }
          return true;
        }
        continue;
      }
      const std::size_t rest = static_cast<std::size_t>(static_cast<const char*>(newline) - buf);
      inLongLine = false;
      if (pieces) {
        sink.Piece(std::string_view(buf, rest), true);
        sink.Between(std::string_view(buf + rest, 1));
      } else {
        longLine.append(buf, rest + 1);
        lines.Complete(longLine);
        std::string().swap(longLine);
      }
      keep(buf + rest + 1, read - rest - 1);
      handOut(0);  // what follows the long line may hold complete lines already
      continue;
    }
    // Only what was just read can hold the last newline: the lines before it
    // were handed out already.
    const std::size_t from = filled;
    filled += read;
    handOut(from);
    if (read == 0) {
      if (filled > 0) {
        lines.Complete(std::string_view(buf, filled));  // the last line, without "\n"
      }
      return true;
    }
    if (filled == size) {
      // One line fills the buffer: gather it whole, or hand it on in pieces.
      inLongLine = true;
      if (pieces) {
        sink.Piece(std::string_view(buf, filled), false);
      } else {
        longLine.assign(buf, filled);
      }
      keep(buf, 0);
    }
  }
}

}  // namespace NSCheckerTool
