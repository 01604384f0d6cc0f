#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Free helpers shared by the checkers and the check tool, and the interface
// the client's other tools use for paths, files, strings, processes and time.
namespace NSCheckerTool {

// Runs a command line through the shell ("/bin/sh -c") and returns the
// wait status, as system() does: 0 for a clean exit, non-zero otherwise, -1
// when no shell could be started. SIGCHLD is at its default action for the
// call, so the status is never lost. The shell searches a PATH without empty
// or relative elements, so nothing is ever run from the working directory.
// With input, the command's standard input is that descriptor (no other
// descriptor of the program's reaches the command); otherwise it is the
// program's own.
// The shell is the one process waited for. A stop signal (see
// CatchStopSignals) that arrives meanwhile is remembered and ends the shell
// at once; a command that ends by SIGINT or SIGQUIT (the user interrupted
// it) is remembered as a stop as well.
int System(const std::string& command);
int System(const std::string& command, int input);
// The same, with the command's standard output going to output.
int ShellOutput(const std::string& command, int output);

// Has SIGINT, SIGQUIT, SIGTERM and SIGHUP remembered rather than end the
// program at once, so that a run can stop where it is, write its report and
// then end by the signal. A signal that was ignored at start stays ignored.
// No call is restarted after one: every wait of the program ends with a stop.
void CatchStopSignals();

// The first stop signal of the run (caught, or the one that ended an
// interrupted command), else 0. Once set, no further repair is started.
int InterruptSignal();
// How many stops came so far: a wait that began after the first one ends
// with the next.
int StopCount();
// Whether a stop came since StopCount() was stops: caught, or waiting while
// blocked (as the stop signals are while a command runs).
bool StopCameSince(int stops);

// PATH with its empty and relative elements left out; the system's default
// path when nothing is left.
std::string AbsolutePath(const std::string& path);
// AbsolutePath of our PATH (set or not).
std::string CleanPath();
// The directory for temporary files, without a trailing separator: "/tmp".
std::string GetOSTempPath();

// Quotes a path for the shell when it holds anything but plain path
// characters; a plain path comes back as it stands.
std::string QuoteForShell(const std::string& path);

// Paths and directories. Every function that splits a path takes both "/"
// and "\\" as separators.

// $HOME/.config without a trailing separator. Without HOME, the home directory
// of the real user from the password database; "" when there is none.
std::string GetAppDataPath();
// GetAppDataPath() + "/" + GetConfigPath() + "/", created if missing; "" (and
// nothing created) when there is no home directory.
std::string GetManagerDataPath();
// Creates path and every missing parent (mode 0775 less the umask). With
// isFile, the last component names a file and only its directory is made;
// a path without a separator after its first character is then taken whole.
void CreateDir(const std::string& path, bool isFile);
// The directory of the running program, with a trailing "/"; "" on failure.
std::string GetCurrentPath();
// The path up to and including its last separator; the whole path without one.
std::string GetPath(const std::string& path);
// What follows the last separator; the whole path without one.
std::string GetFileName(const std::string& path);
// Bare names of the entries of dir, unsorted, without "." and "..";
// subdirectories only when withDirs is true.
std::vector<std::string> ListFiles(const std::string& dir, bool withDirs);
// True when path exists and the process may write to it.
bool PathIsExists(const std::string& path);
// True when path exists.
bool FileIsExists(const std::string& path);
// Removes a file or an empty directory; true when it was removed.
bool DeleteFile(const std::string& path);

// Strings.

// "<address>:<port>".
std::string make_address(const std::string& address, std::uint16_t port);
// "<second>_<first>_<number>".
std::string MakeUserID(const std::string& first, std::uint16_t number, const std::string& second);
// Raw bytes from hexadecimal text, two characters a byte ("%hhx"); a last odd
// character is ignored.
std::string toString(const std::string& hex);
// Text is UTF-8 throughout on this platform: both return a copy.
std::string ANSItoUTF8(const std::string& text);
std::string UTF8toANSI(const std::string& text);
// Not resolved on this platform: always "".
std::string GetIpAddress(const std::string& host);

// Processes and time.

// Starts path with args as its whole argument vector (args[0] becomes
// argument 0) and does not wait; false only when no process could be made.
bool StartProgram(const std::string& path, const std::vector<std::string>& args);
// Suspends the calling thread for ms milliseconds, for any 32-bit value.
void sleep_ms(std::uint32_t ms);
// Milliseconds of the monotonic clock from an arbitrary fixed point.
std::int64_t GetTimeStamp();

// The application name and the name of the client's directory inside the
// per-user configuration directory; both start as "Tolvane". An empty name
// is ignored.
void SetAppName(const std::string& name);
std::string GetAppName();
void SetConfigPath(const std::string& name);
std::string GetConfigPath();
// The "version" attribute of the top-level "client_version" element of the
// XML file at path; "" when the file, the element or the attribute is missing.
std::string ReadClientVersion(const std::string& path);

}  // namespace NSCheckerTool
