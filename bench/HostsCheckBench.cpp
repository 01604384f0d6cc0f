// The hosts check alone, on the file named by HOSTS_BENCH_FILE:
//  - Seam: a subclass that overrides the path, so every line goes through
//    CheckError, as for any subclass;
//  - Program: the checker the program makes, on /etc/hosts (run it in a
//    private mount namespace whose /etc/hosts is the benchmark file).
#include "checkers/LinuxHostsChecker.h"

#include <benchmark/benchmark.h>
#include <pugixml.hpp>

#include <sys/stat.h>
#include <cstdlib>

namespace {

const char kHosts[] = R"(<hosts><hosts1 domain="local.tolvane.com" ip="127.0.0.1"/></hosts>)";

class SeamHostsChecker : public LinuxHostsChecker {
 public:
  explicit SeamHostsChecker(std::string path) : m_strPath(std::move(path)) {}
  std::string GetHostsFilePath() override { return m_strPath; }

 private:
  std::string m_strPath;
};

void Run(benchmark::State& state, HostsChecker& checker, const std::string& path) {
  pugi::xml_document doc;
  doc.load_string(kHosts);
  if (checker.Init(doc.child("hosts")) != EmHostsOk) {
    state.SkipWithError("no hosts section");
    return;
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    state.SkipWithError(("no file " + path).c_str());
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(checker.Check());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * st.st_size);
}

void BM_HostsCheckSeam(benchmark::State& state) {
  const char* file = std::getenv("HOSTS_BENCH_FILE");
  const std::string path = file ? file : "/etc/hosts";
  SeamHostsChecker checker(path);
  Run(state, checker, path);
}

void BM_HostsCheckProgram(benchmark::State& state) {
  HostsChecker* checker = HostsChecker::CreateInstance();
  Run(state, *checker, checker->GetHostsFilePath());
  HostsChecker::DestroyInstance(checker);
}

BENCHMARK(BM_HostsCheckSeam)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HostsCheckProgram)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
