#include "checktool/ReportFile.h"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>

bool WriteReportFile(const std::string& path, const std::string& text) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    return false;
  }
  bool ok = true;
  const char* p = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      ok = false;
      break;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  // A full disk or a quota may show only when the file is closed.
  if (::close(fd) != 0) {
    ok = false;
  }
  return ok;
}
