// Reading and rebuilding a desktop entry from arbitrary text, judged by GLib
// itself, the key-file reader the desktops use. Properties: the checker
// calls an entry usable exactly when GLib's reading says so; the rebuild of
// a usable entry is usable, its Exec value is the configured command, every
// other key of every group reads as before (as with a final newline), its
// lines are the entry's lines
// but for the main group's Exec lines (and one added line when there was
// none), and it is stable.
#include "checkers/LinuxAssociatedSetupChecker.h"

#include "fuzz/FuzzSupport.h"

#include <glib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <utility>

using fuzzsupport::Lines;
using fuzzsupport::Require;

namespace {

struct KeyFileFree {
  void operator()(GKeyFile* file) const { g_key_file_free(file); }
};

// GLib's reading of an entry: whether a desktop uses it, and every value of
// every group, raw.
struct Reading {
  bool usable = false;
  std::map<std::pair<std::string, std::string>, std::string> values;
};

Reading ReadByGLib(const std::string& text) {
  Reading reading;
  const std::unique_ptr<GKeyFile, KeyFileFree> file(g_key_file_new());
  if (!g_key_file_load_from_data(file.get(), text.data(), text.size(), G_KEY_FILE_NONE, nullptr)) {
    return reading;
  }
  gchar* start = g_key_file_get_start_group(file.get());
  gchar* type = g_key_file_get_string(file.get(), "Desktop Entry", "Type", nullptr);
  reading.usable = start != nullptr && std::strcmp(start, "Desktop Entry") == 0 &&
                   type != nullptr && std::strcmp(type, "Application") == 0 &&
                   !g_key_file_get_boolean(file.get(), "Desktop Entry", "Hidden", nullptr);
  g_free(start);
  g_free(type);
  gchar** groups = g_key_file_get_groups(file.get(), nullptr);
  for (gchar** group = groups; *group != nullptr; ++group) {
    gchar** keys = g_key_file_get_keys(file.get(), *group, nullptr, nullptr);
    for (gchar** key = keys; keys != nullptr && *key != nullptr; ++key) {
      gchar* value = g_key_file_get_value(file.get(), *group, *key, nullptr);
      reading.values[{*group, *key}] = value != nullptr ? value : "";
      g_free(value);
    }
    g_strfreev(keys);
  }
  g_strfreev(groups);
  return reading;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  static const std::string kCommands[] = {"tolvane %u", "", "a b\tc \xe4\xb8\xad"};
  const std::string& exec = kCommands[data[0] % 3];
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);

  const Reading before = ReadByGLib(text);
  bool hasExec = false;
  std::string found;
  Require(LinuxAssociatedSetupChecker::ReadUsable(text, hasExec, found) == before.usable,
          "the checker calls an entry usable exactly when GLib does");
  if (!before.usable) {
    return 0;  // reported, never rebuilt
  }
  const auto execKey = std::make_pair(std::string("Desktop Entry"), std::string("Exec"));
  const auto given = before.values.find(execKey);
  Require(hasExec == (given != before.values.end()), "the Exec key is found when GLib has one");
  Require(!hasExec || found == given->second, "the found command is GLib's Exec value");

  std::string rebuilt;
  const bool replaced = LinuxAssociatedSetupChecker::RebuildEntry(text, exec, rebuilt);
  Require(replaced == hasExec, "Exec lines are replaced exactly when the main group has one");
  Require(!rebuilt.empty() && rebuilt.back() == '\n', "the entry ends with a newline");
  Reading after = ReadByGLib(rebuilt);
  Require(after.usable, "the rebuilt entry is usable");
  const auto now = after.values.find(execKey);
  Require(now != after.values.end() && now->second == exec, "it runs the configured command");
  after.values.erase(execKey);
  // Every line of the rebuild ends with a newline; GLib reads a CR before it
  // as part of the line end, also on a last line that had none.
  Reading unchanged = text.empty() || text.back() == '\n' ? before : ReadByGLib(text + "\n");
  unchanged.values.erase(execKey);
  Require(after.values == unchanged.values, "every other key reads as before");

  const std::vector<std::string> in = Lines(text);
  const std::vector<std::string> out = Lines(rebuilt);
  const std::string line = "Exec=" + exec;
  if (replaced) {
    Require(out.size() == in.size(), "one line for each line");
    for (std::size_t i = 0; i < in.size(); ++i) {
      Require(out[i] == in[i] || out[i] == line, "only Exec lines change");
    }
  } else {
    // Nothing is rewritten; one line is added.
    std::size_t k = 0;
    while (k < in.size() && out[k] == in[k]) {
      ++k;
    }
    Require(out.size() == in.size() + 1 && out[k] == line &&
                std::equal(in.begin() + static_cast<std::ptrdiff_t>(k), in.end(),
                           out.begin() + static_cast<std::ptrdiff_t>(k) + 1),
            "the Exec line is added and nothing else changes");
  }

  std::string again;
  Require(LinuxAssociatedSetupChecker::RebuildEntry(rebuilt, exec, again) && again == rebuilt,
          "the rebuilt entry is stable");
  return 0;
}
