#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// Helpers of the fuzz targets: an independent reading of the texts, so that
// the properties are not checked by the code under test itself.
namespace fuzzsupport {

// Lines split at "\n"; a last line without one still counts; "" has none.
inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t end = text.find('\n', begin);
    if (end == std::string::npos) {
      end = text.size();
    }
    lines.push_back(text.substr(begin, end - begin));
    begin = end + 1;
  }
  return lines;
}

inline void Require(bool ok, const char* what) {
  if (!ok) {
    (void)std::fprintf(stderr, "property broken: %s\n", what);  // about to abort anyway
    std::abort();
  }
}

}  // namespace fuzzsupport
