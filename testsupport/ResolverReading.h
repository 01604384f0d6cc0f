#pragma once

// How the C library's resolver reads a hosts file, written out plainly for
// the tests and the fuzz target to judge the check by, independently of the
// checker's own reading: a line is read as a C string, up to a NUL; it is
// skipped when it is blank or starts with "#" after white space; any other
// line ends at its first "#", and the rest
// splits at white space into the address and the names, which are compared
// without regard to ASCII letter case.

#include <cctype>
#include <map>
#include <string>
#include <vector>

namespace resolver {

struct Line {
  std::string address;
  std::vector<std::string> names;  // as written
};

inline std::string Folded(std::string name) {
  for (char& c : name) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return name;
}

inline bool Blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The text's lines ("\n"-separated, a last line without one included).
inline std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string current;
  for (char c : text) {
    if (c == '\n') {
      lines.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) {
    lines.push_back(current);
  }
  return lines;
}

// One line as the resolver reads it; a skipped line gives no names.
inline Line Read(const std::string& line) {
  Line out;
  const std::string cString = line.substr(0, line.find('\0'));
  const std::string used = cString.substr(0, cString.find('#'));
  std::vector<std::string> words;
  std::string word;
  for (char c : used + " ") {
    if (Blank(c)) {
      if (!word.empty()) {
        words.push_back(word);
      }
      word.clear();
    } else {
      word += c;
    }
  }
  if (!words.empty()) {
    out.address = words.front();
    out.names.assign(words.begin() + 1, words.end());
  }
  return out;
}

// Whether the line names host (in any letter case).
inline bool Names(const std::string& line, const std::string& host) {
  for (const std::string& name : Read(line).names) {
    if (Folded(name) == Folded(host)) {
      return true;
    }
  }
  return false;
}

// For every name of the text (folded), the addresses it resolves to, in
// the order of the lines.
inline std::map<std::string, std::vector<std::string>> AddressesByName(const std::string& text) {
  std::map<std::string, std::vector<std::string>> byName;
  for (const std::string& line : SplitLines(text)) {
    const Line read = Read(line);
    for (const std::string& name : read.names) {
      byName[Folded(name)].push_back(read.address);
    }
  }
  return byName;
}

}  // namespace resolver
