// Helper program for the utility tests: writes its argument vector and its
// own directory, as GetCurrentPath sees it, to the file named by PROBE_OUT.
#include "common/NSCheckerTool.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[]) {
  const char* out = std::getenv("PROBE_OUT");
  if (out == nullptr) {
    return 2;
  }
  FILE* file = std::fopen(out, "w");
  if (file == nullptr) {
    return 2;
  }
  std::fprintf(file, "%d\n", argc);
  for (int i = 0; i < argc; ++i) {
    std::fprintf(file, "%s\n", argv[i]);
  }
  std::fprintf(file, "%s\n", NSCheckerTool::GetCurrentPath().c_str());
  return std::fclose(file) == 0 ? 0 : 2;
}
