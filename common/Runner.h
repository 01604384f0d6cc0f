#pragma once

#include <functional>
#include <string>
#include <vector>

namespace NSCheckerTool {

// One command as it is started: the files tried in turn for the program (as
// execvp tries the directories of PATH), its argument vector, environment
// and standard input and output (-1: the program's own).
constexpr int kWatchRecheckMs = 100;

struct Command {
  std::vector<std::string> files;
  std::vector<std::string> args;
  std::vector<std::string> env;
  int input = -1;
  int output = -1;
  // A repair's copy through pkexec: it starts with the stop and terminal
  // signals ignored and a umask of 022, and a prompt that we end gets the
  // terminal's modes back.
  bool privileged = false;
  // A third thing to wait for beside the child's end and the stop signals:
  // when watchFd is readable, and every kWatchRecheckMs besides (for what
  // sends no event), watchSaysEnd() tells whether the child must be ended
  // (as a stop ends it, while it is still ours).
  int watchFd = -1;
  std::function<bool()> watchSaysEnd;
};

// Starts the command in a child and waits for that child alone; returns its
// wait status (-1 when none could be had).
//
// A stop signal, or the watch, ends the child at once (SIGKILL: it may
// ignore any other) while it is ours to end. A privileged command is
// pkexec, which becomes the copy in place: while it asks, it runs with our
// identity and kill() ends the prompt; once authorised, it runs as root,
// kill() is refused, and the copy is left to finish. Run as root, there is
// no prompt to end, and the copy is never signalled. Ctrl-Z while a prompt
// is open ends the prompt before we stop, so that no prompt reads the
// terminal behind the shell's back; the copy never stops with us.
int Run(Command& command);

}  // namespace NSCheckerTool
