#!/bin/sh
# Stand-in for pkexec in tests. It logs its arguments, can be told to refuse,
# and runs "/bin/cp -T -u --no-preserve=mode /dev/stdin <to>" (or -n for a
# target that was missing; the text arrives on standard input) only where nothing real can be hit: into the test's own directory
# (FAKE_PKEXEC_ROOT), or onto the system paths when they are private mounts
# of a sandbox (FAKE_PKEXEC_SANDBOXED). Like the real one, it gets no
# environment of the caller's to speak of: its settings are in the file
# "settings" beside it.
FAKE_PKEXEC_LOG= FAKE_PKEXEC_REFUSE= FAKE_PKEXEC_ROOT= FAKE_PKEXEC_SANDBOXED= FAKE_PKEXEC_DELAY=
. "${0%/*}/settings"
printf '%s\n' "$*" >>"${FAKE_PKEXEC_LOG:-/dev/null}"
[ -z "$FAKE_PKEXEC_REFUSE" ] || exit 126
case "$*" in
  "/bin/cp -T -u --no-preserve=mode /dev/stdin "*) [ $# -eq 6 ] || exit 127; to=$6 ;;
  "/bin/cp -T -n --no-preserve=mode /dev/stdin "*) [ $# -eq 6 ] || exit 127; to=$6 ;;
  *) exit 127 ;;
esac
case "$to" in *..*) exit 126 ;; esac
[ -z "$FAKE_PKEXEC_DELAY" ] || sleep "$FAKE_PKEXEC_DELAY"

if [ -n "$FAKE_PKEXEC_ROOT" ]; then
  case "$to" in "$FAKE_PKEXEC_ROOT"/*) exec "$@" ;; esac
fi

mounted() {
  awk -v m="$1" '$5 == m { found = 1 } END { exit !found }' /proc/self/mountinfo
}
if [ -n "$FAKE_PKEXEC_SANDBOXED" ]; then
  case "$to" in
    /etc/hosts) mounted /etc && exec "$@" ;;
    /usr/share/applications/*) mounted /usr/share && exec "$@" ;;
  esac
fi
exit 126
