#!/bin/sh
# Runs the program under valgrind (memcheck); errors and definite leaks end
# it with status 99, which no test expects. (No vgdb: it needs room in /tmp,
# which some tests fill.) Used by the test command as
# CHECKTOOL_BIN, the program the command-line tests run.
exec /usr/bin/valgrind -q --vgdb=no --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite \
  "${CHECKTOOL_REAL_BIN:?}" "$@"
