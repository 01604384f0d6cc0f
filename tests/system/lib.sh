# Shared by the whole-program test groups. Everything here runs as root inside
# private mount namespaces (and a PID namespace of the group's own): /run,
# /tmp, /etc and /usr/share are private copies, so the machine's own files
# are never touched.
#
# Environment: CHECKTOOL_BIN (the program), SYSTEST_LAUNCH (the launch helper
# built with the tests), SYSTEST_WORK (a directory for this group, anywhere,
# /tmp included), SYSTEST_LIB (this file), HOSTS_DATA_DIR (sample hosts
# files).

PRODUCT=local.tolvane.com
CANON="127.0.0.1            local.tolvane.com"
ENTRY=/usr/share/applications/tolvane-url.desktop
GOOD_HOSTS="127.0.0.1 localhost
$CANON
"
BROKEN_HOSTS="127.0.0.1 localhost
10.0.0.1 local.tolvane.com
"
GOOD_ENTRY="[Desktop Entry]
Type=Application
Name=Tolvane
Exec=tolvane %u
MimeType=x-scheme-handler/tolvane;
"
CAROL_PASSWORD=carols-secret-7
BROKEN_ENTRY="[Desktop Entry]
Type=Application
Name=Tolvane
Exec=/opt/old/tolvane %U
MimeType=x-scheme-handler/tolvane;
"

# ---- group level: private /run with a system bus and polkitd of our own ----

group_setup() {
  mount -t tmpfs -o mode=755 tmpfs /run
  mkdir -p /run/dbus /run/lock /run/user
  mkdir -p "$SYSTEST_WORK/group/etc-up" "$SYSTEST_WORK/group/etc-work"
  rm -rf "$SYSTEST_WORK/group/etc-up/"* "$SYSTEST_WORK/group/etc-work/"*
  mount -t overlay overlay \
    -o "lowerdir=/etc,upperdir=$SYSTEST_WORK/group/etc-up,workdir=$SYSTEST_WORK/group/etc-work" /etc
  # Users of the tests: alice may run pkexec, bob is refused, mallory attacks,
  # carol must type her password, dave waits for polkit to think.
  for user in alice bob mallory carol dave; do
    useradd -M -U -d /nonexistent -s /bin/sh "$user" 2>/dev/null || true
  done
  echo "carol:$CAROL_PASSWORD" | chpasswd
  mkdir -p /etc/polkit-1/rules.d
  cat >/etc/polkit-1/rules.d/10-checktool-tests.rules <<'RULES'
polkit.addRule(function(action, subject) {
  if (action.id == "org.freedesktop.policykit.exec") {
    if (subject.user == "alice") return polkit.Result.YES;
    if (subject.user == "bob" || subject.user == "mallory") return polkit.Result.NO;
    if (subject.user == "carol") return polkit.Result.AUTH_SELF;
    if (subject.user == "dave") {
      polkit.spawn(["/bin/sleep", "6"]);
      return polkit.Result.YES;
    }
  }
});
RULES
  chmod 644 /etc/polkit-1/rules.d/10-checktool-tests.rules
  dbus_pid=$(dbus-daemon --system --fork --print-pid) || { echo "cannot start dbus-daemon"; return 1; }
  /usr/lib/polkit-1/polkitd --no-debug >"$SYSTEST_WORK/group/polkitd.log" 2>&1 &
  polkitd_pid=$!
  # Wait until polkit answers (root is authorised without asking).
  tries=0
  until pkexec true 2>/dev/null; do
    tries=$((tries + 1))
    [ "$tries" -lt 50 ] || { echo "polkitd did not come up"; return 1; }
    sleep 0.1
  done
}

group_teardown() {
  [ -z "${polkitd_pid:-}" ] || kill "$polkitd_pid" 2>/dev/null
  [ -z "${dbus_pid:-}" ] || kill "$dbus_pid" 2>/dev/null
  wait 2>/dev/null
}

passed=0
failed=0

# run_case NAME "FUNCTION [WORD...]": runs FUNCTION in a fresh private /tmp, /etc and
# /usr/share, with a good hosts file and desktop entry to start from. With
# SYSTEST_ONLY set to a list of names, only those cases run.
run_case() {
  if [ -n "${SYSTEST_ONLY:-}" ]; then
    case " $SYSTEST_ONLY " in *" $1 "*) ;; *) return 0 ;; esac
  fi
  CASE=$SYSTEST_WORK/cases/$1
  rm -rf "$CASE"
  mkdir -p "$CASE"
  if timeout 300 unshare -m --propagation private \
    sh -c '. "$SYSTEST_LIB"; . "$SYSTEST_GROUP_FILE"; case_enter "$1" "$2"' \
    sh "$CASE" "$2" >"$CASE/log" 2>&1; then
    passed=$((passed + 1))
    echo "PASS $1"
  else
    failed=$((failed + 1))
    echo "FAIL $1"
    sed 's/^/    /' "$CASE/log"
  fi
}

case_enter() {
  CASE=$1
  . "${SYSTEST_LIB%/*}/private-tmp.sh"
  private_tmp "$SYSTEST_WORK" "$CHECKTOOL_BIN" "${SYSTEST_LAUNCH:-}" "${HOSTS_DATA_DIR:-}"
  mkdir -p "$CASE/ov/etc-up" "$CASE/ov/etc-work" "$CASE/ov/share-up" "$CASE/ov/share-work"
  mount -t overlay overlay -o "lowerdir=/etc,upperdir=$CASE/ov/etc-up,workdir=$CASE/ov/etc-work" /etc
  mount -t overlay overlay \
    -o "lowerdir=/usr/share,upperdir=$CASE/ov/share-up,workdir=$CASE/ov/share-work" /usr/share
  mkdir -p /usr/share/applications
  give_hosts "$GOOD_HOSTS"
  give_entry "$GOOD_ENTRY"
  chmod 755 "$CASE"
  case_failed=0
  # shellcheck disable=SC2086
  set -- $2  # a case is a function, maybe with words to pass it
  command -v "$1" >/dev/null || { echo "no case called $1"; exit 1; }
  "$@"
  [ -f "$CASE/status" ] || fail "the program never ran"
  exit "$case_failed"
}

summary() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}

# ---- inside a case ----

give_hosts() { printf '%s' "$1" >/etc/hosts && chmod 644 /etc/hosts; }
give_entry() { printf '%s' "$1" >"$ENTRY" && chmod 644 "$ENTRY"; }

as_user() {  # as_user USER command...: runs a command as USER
  user=$1
  shift
  setpriv --reuid="$user" --regid="$user" --init-groups env HOME=/nonexistent SHELL=/bin/sh "$@"
}

# run_tool [--as USER] [--lang L] [--report PATH] [--wrap "CMD"]: runs the
# program (never longer than two minutes: a hang is a failure) and keeps its
# status, stdout, stderr and report in $CASE.
run_tool() {
  user=root lang=en report=/tmp/report.html wrap=
  while [ $# -gt 0 ]; do
    case $1 in
      --as) user=$2 ;;
      --lang) lang=$2 ;;
      --report) report=$2 ;;
      --wrap) wrap=$2 ;;
    esac
    shift 2
  done
  rm -f "$CASE/report.html"
  if [ "$user" = root ]; then
    # shellcheck disable=SC2086
    timeout 120 $wrap "$CHECKTOOL_BIN" --path "$report" --lang "$lang" >"$CASE/stdout" 2>"$CASE/stderr"
  else
    # shellcheck disable=SC2086
    as_user "$user" timeout 120 $wrap "$CHECKTOOL_BIN" --path "$report" --lang "$lang" \
      >"$CASE/stdout" 2>"$CASE/stderr"
  fi
  echo $? >"$CASE/status"
  [ ! -f "$report" ] || cp "$report" "$CASE/report.html"
}

# wrapper NAME SHELL-LINE: a script in $CASE that runs SHELL-LINE and then
# the command it is given; its path is printed, for run_tool --wrap.
wrapper() {
  printf '#!/bin/sh\n%s\nexec "$@"\n' "$2" >"$CASE/$1"
  chmod 755 "$CASE/$1"
  echo "$CASE/$1"
}

# logged_pkexec [SHELL-LINE]: a pkexec first on PATH that logs its arguments
# to $CASE/pkexec.log, runs SHELL-LINE and then the real pkexec; prints the
# wrapper for run_tool --wrap.
logged_pkexec() {
  mkdir -p "$CASE/bin"
  printf '#!/bin/sh\nprintf "%%s\\n" "$*" >>%s/pkexec.log\n%s\nexec /usr/bin/pkexec "$@"\n' \
    "$CASE" "${1:-}" >"$CASE/bin/pkexec"
  chmod 755 "$CASE/bin/pkexec"
  : >"$CASE/pkexec.log"
  chmod 666 "$CASE/pkexec.log"
  echo "env PATH=$CASE/bin:$PATH"
}

pkexec_calls() { wc -l <"$CASE/pkexec.log"; }

# wait_until SHELL-CONDITION: polls it every 50 ms for at most 10 seconds.
wait_until() {
  tries=0
  until eval "$1"; do
    tries=$((tries + 1))
    [ "$tries" -lt 200 ] || return 1
    sleep 0.05
  done
}

# What a case waits for is the process itself in the state it needs, not a
# marker that a wrapper writes before it gets there: a wrapper named pkexec
# (and any subshell it forks) shows as "pkexec" to pgrep -x long before the
# real pkexec runs, and the launch helper writes its pid file only after
# the program has started.

# runs PID PROGRAM: process PID runs PROGRAM (its executable is that file).
runs() { [ "$(readlink "/proc/$1/exe" 2>/dev/null)" = "$(readlink -f "$2")" ]; }

# pkexec_runs: the real pkexec runs (not a wrapper that only bears its name).
pkexec_runs() {
  for pid in $(pgrep -x pkexec); do
    runs "$pid" /usr/bin/pkexec && return 0
  done
  return 1
}

# child_runs PID PROGRAM: a child of process PID runs PROGRAM.
child_runs() {
  for child in $(pgrep -P "$1"); do
    runs "$child" "$2" && return 0
  done
  return 1
}

# stand_in_runs PGREP-OPTIONS: a process that pgrep selects (-P PID, -u
# USER) is a prompt's stand-in, in place: it has CHECKTOOL_STAND_IN in its
# own environment, which a wrapper has only once it has become the stand-in.
stand_in_runs() {
  for pid in $(pgrep "$@"); do
    grep -q -s -a CHECKTOOL_STAND_IN "/proc/$pid/environ" && return 0
  done
  return 1
}

# polkit_thinks: polkitd runs a rule's command (dave's sleep) and answers
# nobody meanwhile: it evaluates one request at a time.
polkit_thinks() {
  polkitd=$(pgrep -x polkitd) && pgrep -x -P "$polkitd" sleep >/dev/null
}

# pid_file FILE: the launch helper has written the program's process id.
pid_file() { grep -q -s -x '[0-9][0-9]*' "$1"; }

fail() {
  echo "  $*"
  case_failed=1
}

no_repair_file_left() {
  if [ -e /tmp/check_hosts_tmp ] || [ -L /tmp/check_hosts_tmp ]; then
    fail "/tmp/check_hosts_tmp was made"
  fi
}

# none_left MARKER: no process has MARKER in its environment any more.
none_left() {
  if grep -l -s -a "$1" /proc/[0-9]*/environ >"$CASE/left" 2>/dev/null; then
    fail "processes of the run were left: $(sed 's,/proc/\([0-9]*\)/environ,\1,' "$CASE/left" | tr '\n' ' ')"
  fi
}

# same WHAT EXPECTED-TEXT FILE
same() {
  printf '%s' "$2" >"$CASE/expected"
  if ! cmp -s "$CASE/expected" "$3"; then
    fail "$1 differs (expected, then actual):"
    diff "$CASE/expected" "$3" 2>&1 | head -n 20 | sed 's/^/    /'
  fi
}

# word ID: the report's English text of ID, from the tests' own catalogue.
# The first in a case says, in the case's log, where a changed word is to be
# changed in what the case expects.
CATALOGUE=${SYSTEST_LIB%/*}/../../testsupport/catalogue.tsv
word() {
  if [ -n "${CASE:-}" ] && [ ! -e "$CASE/words-from" ]; then
    : >"$CASE/words-from"
    echo "  (the report's words are expected as testsupport/catalogue.tsv gives them; the program's are in checktool/Messages.cpp)" >&2
  fi
  awk -F '\t' -v id="$1" '$1 == id { print $3; found = 1; exit } END { exit !found }' "$CATALOGUE" ||
    echo "no word $1 in $CATALOGUE" >&2
}

cells() {
  green='<td id=textcenter width="100"><font color="#008000">'
  red='<td id=textcenter width="100"><font color="red">'
  case $1 in
    correct) printf '%s\n' "$green$(word 3)</font></td>" '<td id=textcenter></td>' \
      '<td id=textcenter width="100"></td>' ;;
    repaired) printf '%s\n' "$red$(word 4)</font></td>" "$green$(word 34)</font></td>" \
      '<td id=textcenter width="100"></td>' ;;
    failed) printf '%s\n' "$red$(word 4)</font></td>" "$red$(word 35)</font></td>" \
      '<td id=textcenter width="100"></td>' ;;
    internal) printf '%s\n' "$red$(word 4)</font></td>" "$red$(word 35)</font></td>" \
      "<td id=textcenter width=\"100\">$(word 36)</td>" ;;
  esac
}

report_text() {  # report_text HOSTS-CELLS SETUP-CELLS
  printf '%s\n' '<table border="1" align="center" cellspacing="0" cellpadding="8">' '<tr>' \
    "<th id=textcenter>$(word 26)</th>" "<th id=textcenter>$(word 27)</th>" \
    "<th id=textcenter>$(word 28)</th>" "<th id=textcenter>$(word 29)</th>" '<tr>' \
    "<td width=\"180\">$(word 31)</td>"
  cells "$1"
  printf '%s\n' '</tr>' '<tr>' "<td width=\"180\">$(word 30)</td>"
  cells "$2"
  printf '%s\n' '</tr>' '</table><br/>'
}

# expect_run STATUS STDOUT HOSTS-CELLS SETUP-CELLS: the outcome of run_tool.
expect_run() {
  [ "$(cat "$CASE/status")" = "$1" ] || fail "exit status $(cat "$CASE/status"), expected $1"
  same "stdout" "$2" "$CASE/stdout"
  if [ -n "$3" ]; then
    same "report" "$(report_text "$3" "$4")
" "$CASE/report.html"
  fi
}

# same_files WHAT EXPECTED-FILE ACTUAL-FILE
same_files() {
  if ! cmp -s "$2" "$3"; then
    fail "$1 differs (expected, then actual):"
    diff "$2" "$3" 2>&1 | head -n 10 | sed 's/^/    /'
  fi
}

expect_hosts() { same "/etc/hosts" "$1" /etc/hosts; }
expect_entry() { same "the desktop entry" "$1" "$ENTRY"; }
