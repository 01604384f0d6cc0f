#pragma once

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <sys/types.h>
#include <functional>
#include <string>
#include <vector>

namespace testsupport {

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content, mode_t mode = 0644);
bool Exists(const std::string& path);
mode_t ModeOf(const std::string& path);
// Dates the file an hour back, as a file written long before a repair.
void Age(const std::string& path);
bool RunningAsRoot();
// Runs body in a child process and answers what it answered there. For
// what lasts for a process once it happened (a refused authorisation, a
// stop signal, a missed run lock), so that it cannot reach other tests.
bool InChild(const std::function<bool()>& body);
// Runs body once at each width of the caseless search (AVX2, SSE2, one byte
// at a time; a width the CPU lacks runs as the widest it has), under a trace
// that names it; the widest is in use again afterwards.
void AtEverySearchWidth(const std::function<void()>& body);

// The report's words as testsupport/catalogue.tsv gives them (written from
// the catalogue the client has always shown, not read from the program's):
// the text of id in Chinese (chinese) or English; "" for an unknown id.
std::string Word(int id, bool chinese = false);
// The status cells of a row, and a whole report of two rows (hosts, then
// desktop entry) in Chinese or English, byte for byte.
enum class Cells { Correct, Repaired, Failed, Internal };
std::string StatusCells(Cells cells, bool chinese = false);
std::string ReportText(Cells hosts, Cells setup, bool chinese = false);
// For the trace of a test that compares with those words: where a changed
// word is to be changed in the expectation too.
extern const char kWordsFrom[];

// Parses xml into doc (which must outlive the node) and answers its first
// top-level element called name, or a null node.
pugi::xml_node ParseSection(pugi::xml_document& doc, const char* xml, const char* name);

}  // namespace testsupport

// Gives each test a fresh absolute directory, removed afterwards unless the
// test failed (then it is kept and named). Can put a fake pkexec first on PATH.
class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Where the test directories are made; under /tmp unless overridden.
  virtual std::string BaseDir() const;

  std::string Path(const std::string& name) const { return m_strTmpDir + "/" + name; }

  // Installs <dir>/bin/pkexec, puts it first on PATH and lets it copy only
  // into the test directory (its settings: <dir>/bin/settings). Everything
  // is restored in TearDown.
  void InstallFakePkexec();
  // From now on the fake pkexec answers as for a refused authorisation.
  void RefuseFakePkexec();
  // The argument lines the fake pkexec was called with.
  std::string PkexecLog() const;
  void SetEnv(const char* name, const char* value);

  std::string m_strTmpDir;

 private:
  struct SavedEnv {
    std::string name;
    bool wasSet;
    std::string value;
  };
  std::vector<SavedEnv> m_vecSavedEnv;
};

// The stand-in for pkexec copies as the user who runs the tests, not as
// root; the watch on a file ends any command of the user's own that changes
// it while it still could be a prompt (only root's copy is left alone, as
// pkexec's becomes once authorised). A test in which the stand-in copies
// into a file therefore needs root. A macro: GTEST_SKIP ends only the
// function it is in.
#define REQUIRE_ROOT_FOR_THE_COPY()                                                     \
  if (!testsupport::RunningAsRoot()) {                                                  \
    GTEST_SKIP() << "the stand-in's copy runs as this user, whom the watch would stop"; \
  }
