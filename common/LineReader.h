#pragma once

#include <sys/types.h>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace NSCheckerTool {

// Where a line reader takes its bytes from.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Up to size bytes into into, as read() gives them: how many, 0 at the
  // end, -1 on an error.
  virtual ssize_t Read(char* into, std::size_t size) = 0;
};

// An open file descriptor, read to its end (an interrupted read is retried).
class FdSource : public ByteSource {
 public:
  explicit FdSource(int fd) : m_nFd(fd) {}
  ssize_t Read(char* into, std::size_t size) override;

 private:
  int m_nFd;
};

// A text in memory.
class TextSource : public ByteSource {
 public:
  explicit TextSource(std::string_view text) : m_text(text) {}
  ssize_t Read(char* into, std::size_t size) override;

 private:
  std::string_view m_text;
};

// What a line reader hands out, in the order of the text.
class LineSink {
 public:
  virtual ~LineSink() = default;
  // A line, without its "\n".
  virtual void Line(std::string_view line) = 0;
  // The bytes between the lines handed out, newlines included: the lines
  // that were passed over and the "\n" after each line. Together with the
  // lines, they are the whole text.
  virtual void Between(std::string_view bytes) { (void)bytes; }
  // Whether lines longer than the reader's buffer come to Piece, a piece at
  // a time, rather than gathered whole to Line (or to Between, without a
  // needle in them). A sink that takes pieces gets every long line.
  virtual bool TakesPieces() const { return false; }
  // The pieces of a long line, in order, without its "\n"; last marks the
  // piece that ends it (the "\n" then goes to Between).
  virtual void Piece(std::string_view piece, bool last) {
    (void)piece;
    (void)last;
  }
};

// Reads a text once, start to end, through one buffer of a fixed size, and
// hands its lines to sink ("\n"-separated; a last line without one counts):
// every line, or, with needles, only the lines that contain one of them,
// ASCII letters compared without regard to case (see FindIgnoringCase).
// Nothing of the other lines is kept. A line longer than the buffer is
// gathered whole before it is looked at, unless the sink takes it in
// pieces: then the memory used does not grow with the length of a line.
// A line is long when it fills the buffer: bufferSize bytes or more without
// its "\n". With longLines, how many lines were long. False when the source
// failed; what was handed out until then stands.
constexpr std::size_t kLineBufferSize = std::size_t{256} * 1024;
bool ReadLines(ByteSource& source, const std::vector<std::string>* needles, LineSink& sink,
               std::size_t bufferSize = kLineBufferSize, std::size_t* longLines = nullptr);

}  // namespace NSCheckerTool
