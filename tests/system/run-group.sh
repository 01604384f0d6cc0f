#!/bin/sh
# Whole-program tests of one group against the built program, with the real
# pkexec, a system bus and polkitd of our own, inside private mount and PID
# namespaces. Exit 77 (skipped) where that cannot be done.
# usage: run-group.sh faults|attackers|concurrency|hosts-files|desktop-entries
set -u
here=$(cd "$(dirname "$0")" && pwd)
if [ "${SYSTEST_IN_SANDBOX:-}" != 1 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "SKIPPED: the whole-program tests need root for their mount namespace"
    exit 77
  fi
  if ! unshare -m --propagation private true 2>/dev/null; then
    echo "SKIPPED: no mount namespaces here"
    exit 77
  fi
  for tool in pkexec dbus-daemon setpriv; do
    if ! command -v "$tool" >/dev/null 2>&1; then
      echo "SKIPPED: $tool is not installed"
      exit 77
    fi
  done
  if grep -q SYSTEST_LAUNCH "$here/group-$1.sh" && [ ! -x "${SYSTEST_LAUNCH:-}" ]; then
    echo "SYSTEST_LAUNCH must name the launch helper built with the tests"
    exit 1
  fi
  mkdir -p "$SYSTEST_WORK"
  # A PID namespace of its own: when the group ends, or is killed at its
  # time limit, every process it started (dbus-daemon, polkitd, a program
  # that hangs) ends with it. Its first process only waits for the group,
  # since pkexec refuses to run for a child of PID 1.
  SYSTEST_IN_SANDBOX=1 SYSTEST_LIB=$here/lib.sh exec unshare -m --propagation private \
    --pid --fork --kill-child --mount-proc sh -c 'sh "$0" "$@" & wait $!' "$0" "$@"
fi
SYSTEST_GROUP_FILE=$here/group-$1.sh
export CHECKTOOL_BIN SYSTEST_LAUNCH SYSTEST_WORK SYSTEST_LIB SYSTEST_GROUP_FILE HOSTS_DATA_DIR
. "$SYSTEST_LIB"
. "$SYSTEST_GROUP_FILE"
group_setup || exit 1
cases
group_teardown
summary
