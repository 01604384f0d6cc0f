#pragma once

#include <string>

// Free helpers shared by the checkers and the check tool.
namespace NSCheckerTool {

// Runs a command line through the shell with SIGCHLD at its default action and
// returns system()'s raw status: 0 for a clean exit, non-zero otherwise.
int System(const std::string& command);

// The directory for temporary files, without a trailing separator: "/tmp".
std::string GetOSTempPath();

// Quotes a path for the shell when it holds anything but plain path
// characters; a plain path comes back as it stands.
std::string QuoteForShell(const std::string& path);

// The privileged move of a prepared file over its target:
// "pkexec mv <from> <to>".
std::string MoveCommand(const std::string& from, const std::string& to);

}  // namespace NSCheckerTool
