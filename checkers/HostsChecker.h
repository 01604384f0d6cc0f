#pragma once

#include "common/FileIO.h"

#include <pugixml.hpp>

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

// Result codes of the hosts family.
enum [[nodiscard]] EmHostsCheckerState : int{
    EmHostsOk = 0,
    EmHostsNeedRepair = 1,
    EmHostsInitFailed = 2,
    EmHostsRepairFailed = 3,
    // The hosts file exists but could not be read to its end: no corrected
    // text is built and nothing is repaired.
    EmHostsReadFailed = 4,
};

// Makes sure the hosts file maps every configured domain to its configured
// address exactly once, in one canonical layout, as the C library's resolver
// reads the file. The whole check lives here; a platform class adds the
// repair that writes the protected file.
class HostsChecker {
 public:
  virtual ~HostsChecker();
  HostsChecker(const HostsChecker&) = delete;
  HostsChecker& operator=(const HostsChecker&) = delete;

  // Reads the expected entries from the hosts section; 2 when it is missing.
  virtual EmHostsCheckerState Init(const pugi::xml_node& section);
  // 0 when nothing is expected or the file is right, 1 when it needs a
  // repair, 4 when the file is there but unreadable.
  virtual EmHostsCheckerState Check();
  // Corrects the hosts file as it is when the repair runs.
  virtual EmHostsCheckerState Repair() = 0;
  // The file that Check reads and Repair replaces.
  virtual std::string GetHostsFilePath();
  // Reads the file through one buffer of a fixed size and judges its lines;
  // 0, 1 or 4. The checker that CreateInstance makes is shown only the lines
  // that name an expected domain and keeps nothing of the file; any other
  // checker is shown every line, in order, and keeps the corrected text in
  // m_strHostsContent.
  virtual EmHostsCheckerState CheckContent();
  // Judges one line against the expected entries, as the resolver reads it,
  // and rewrites it in place; true when the line needed repair. A line whose
  // names all spell one expected domain (in any letter case) is that
  // domain's entry: the first becomes the canonical line, later ones are
  // commented out. From any other line, the expected domains among its names
  // are removed, each with the white space before it. Lines that name no
  // expected domain stay as they are.
  virtual bool CheckError(std::string& line, const std::map<std::string, std::string>& expected,
                          std::map<std::string, bool>& seen);
  // One entry in the canonical layout, without a newline.
  virtual std::string MakeLine(const std::string& domain, const std::string& ip);

  static HostsChecker* CreateInstance();
  static void DestroyInstance(HostsChecker*& checker);

  // Strip C-locale white space in place and return the same string.
  static std::string& trim(std::string& s);
  static std::string& ltrim(std::string& s);
  static std::string& rtrim(std::string& s);

  // One hosts-file line as the resolver reads it; views into the line.
  struct HostsLine {
    std::string_view address;
    std::vector<std::string_view> names;  // the first name and its aliases
  };
  // False for a line the resolver skips: blank, or "#" first after leading
  // white space. The line ends at a NUL, as a C string; otherwise it ends at
  // its first "#", and the rest,
  // split at white space, gives the address and the names (none when there
  // is a single token).
  static bool ReadHostsLine(std::string_view line, HostsLine& out);

  // A line too long to hold is digested with its long fields and runs of
  // blanks passed over this many bytes at a time.
  static constexpr std::size_t kSkimBytes = 8;

 protected:
  HostsChecker();

  // Reads the file again and builds the corrected text of the file as it is
  // now in m_strHostsContent; 0 (nothing to correct), 1 or 4.
  EmHostsCheckerState RebuildContent();
  // The same rules on a text instead of the file, through the same reader:
  // builds m_strHostsContent; true when a line needed repair or an entry is
  // missing. With onlyNamingLines, only lines that contain an expected
  // domain (in any letter case) are shown to CheckError.
  bool BuildContent(std::string&& text, bool onlyNamingLines);

  std::map<std::string, std::string> m_mapHosts;
  std::string m_strHostsContent;
  // What the last reading saw of the file (it also started the file's
  // watch, see NSCheckerTool::WatchTarget).
  NSCheckerTool::ReadMark m_read;
  // Whether only the lines that contain an expected domain are shown to
  // CheckError, and the check keeps no text: the same result as showing
  // every line, as long as CheckError is this class's own. CreateInstance
  // sets it on the object it makes; every other object, such as a subclass
  // that overrides CheckError, has every line shown.
  bool m_bOnlyNamingLines = false;

 private:
  // Up to this many expected domains, the lines that may name one are found
  // by a search through the text for each domain.
  static constexpr std::size_t kMaxScannedDomains = 8;

  // Reads the file and judges it; with content, the corrected text is
  // built there.
  EmHostsCheckerState Judge(std::string* content);
  // The domains to look for, or null when every line is to be shown.
  const std::vector<std::string>* Needles(bool onlyNamingLines);
  std::map<std::string, bool> FreshSeen() const;
  // Ends the corrected text with a newline and the missing entries; true
  // when changed or an entry is missing.
  bool Finish(std::map<std::string, bool>& seen, bool changed, std::string* content);

  std::vector<std::string> m_vecNeedles;
};
