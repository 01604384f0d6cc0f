# Faults: what cannot be read, written, authorised or found.

# The text is staged in memory: a full /tmp does not stop a repair.
full_tmp() {
  give_hosts "$BROKEN_HOSTS"
  mount -o remount,size=64k /tmp
  dd if=/dev/zero of=/tmp/fill bs=4k 2>/dev/null
  run_tool --report "$CASE/r.html"
  cp "$CASE/r.html" "$CASE/report.html" 2>/dev/null
  expect_run 0 "" repaired correct
  expect_hosts "$GOOD_HOSTS"
  no_repair_file_left
}

hosts_is_a_directory() {
  rm /etc/hosts
  mkdir /etc/hosts
  echo keep >/etc/hosts/inside
  ls -A /tmp >"$CASE/tmp.before"
  run_tool --wrap "$(logged_pkexec)"
  expect_run 0 "" internal correct
  [ "$(cat /etc/hosts/inside)" = keep ] || fail "the directory was changed"
  [ "$(ls -A /etc/hosts)" = inside ] || fail "the directory holds $(ls -A /etc/hosts)"
  [ "$(pkexec_calls)" -eq 0 ] || fail "a command ran: $(cat "$CASE/pkexec.log")"
  ls -A /tmp | grep -v -x -e report.html >"$CASE/tmp.after"
  same_files "what /tmp holds" "$CASE/tmp.before" "$CASE/tmp.after"
}

hosts_unreadable_for_the_user() {
  give_hosts "$BROKEN_HOSTS"
  chmod 000 /etc/hosts
  run_tool --as alice
  expect_run 0 "" internal correct
  chmod 644 /etc/hosts
  expect_hosts "$BROKEN_HOSTS"
}

hosts_missing() {
  rm /etc/hosts
  run_tool
  expect_run 0 "" repaired correct
  expect_hosts "$CANON
"
  [ "$(stat -c %a /etc/hosts)" = 644 ] || fail "mode $(stat -c %a /etc/hosts)"
}

entry_missing() {
  rm "$ENTRY"
  run_tool
  expect_run 0 "" correct internal
  [ ! -e "$ENTRY" ] || fail "a desktop entry was made up"
}

# The command reads the sealed text as its standard input, and no other
# descriptor of the program's (its run lock, another staged text) reaches it.
descriptors_of_the_command() {
  give_hosts "$BROKEN_HOSTS"
  give_entry "$BROKEN_ENTRY"
  run_tool --as alice --wrap "$(logged_pkexec 'for fd in /proc/$$/fd/*; do
    printf "%s %s\n" "${fd##*/}" "$(readlink "$fd")"; done >>/tmp/fds')"
  expect_run 0 "" repaired repaired
  [ "$(grep -c '^0 /memfd:check_hosts_tmp' /tmp/fds)" -eq 2 ] ||
    fail "standard input was not the staged text: $(cat /tmp/fds)"
  if grep -v '^0 ' /tmp/fds | grep -e check_hosts_tmp -e memfd: -e /etc/ -e /usr/share/; then
    fail "the command got descriptors of the program's"
  fi
}

# A "no" is not asked again: polkit refuses bob (pkexec ends with 127); a
# stand-in ends as a dismissed dialog does (126).
authorisation_refused() {  # USER [SHELL-LINE for the pkexec stand-in]
  give_hosts "$BROKEN_HOSTS"
  give_entry "$BROKEN_ENTRY"
  run_tool --as "$1" --wrap "$(logged_pkexec "${2:-}")"
  expect_run 0 "" failed failed
  [ "$(pkexec_calls)" -eq 1 ] || fail "pkexec ran $(pkexec_calls) times: $(cat "$CASE/pkexec.log")"
  expect_hosts "$BROKEN_HOSTS"
  expect_entry "$BROKEN_ENTRY"
}
authorisation_refused_by_polkit() { authorisation_refused bob; }
authorisation_dialog_dismissed() { authorisation_refused alice 'exit 126'; }

# A copy that fails (a read-only mount) is no refusal: the next file still
# asks, and is repaired.
copy_fails_on_a_read_only_file() {
  give_hosts "$BROKEN_HOSTS"
  give_entry "$BROKEN_ENTRY"
  mount --bind /etc/hosts /etc/hosts
  mount -o remount,bind,ro /etc/hosts
  run_tool --as alice --wrap "$(logged_pkexec)"
  expect_run 0 "" failed repaired
  [ "$(pkexec_calls)" -eq 2 ] || fail "pkexec ran $(pkexec_calls) times: $(cat "$CASE/pkexec.log")"
  expect_hosts "$BROKEN_HOSTS"
  expect_entry "$GOOD_ENTRY"
}

authorised_user() {
  give_hosts "$BROKEN_HOSTS"
  give_entry "$BROKEN_ENTRY"
  run_tool --as alice --lang cs
  [ "$(cat "$CASE/status")" = 0 ] || fail "status $(cat "$CASE/status")"
  grep -q "$(awk -F '\t' '$1 == 34 { print $2 }' "$CATALOGUE")" "$CASE/report.html" ||
    fail "no repair reported in Chinese"
  expect_hosts "$GOOD_HOSTS"
  expect_entry "$GOOD_ENTRY"
  as_user mallory cat /etc/hosts >/dev/null || fail "the new hosts file is not readable by others"
  no_repair_file_left
}

# An authorised user's repair writes into the files: owner, group, mode, ACL,
# inode and hard links stay what they were.
repair_keeps_what_the_files_were() {  # MODE GROUP
  give_hosts "$BROKEN_HOSTS"
  give_entry "$BROKEN_ENTRY"
  chgrp "$2" /etc/hosts "$ENTRY"
  chmod "$1" /etc/hosts "$ENTRY"
  setfacl -m u:bob:r /etc/hosts "$ENTRY"
  ln /etc/hosts /etc/hosts.link
  identity() { stat -c '%u:%g %a %i' "$1"; }
  hosts_before=$(identity /etc/hosts)
  entry_before=$(identity "$ENTRY")
  run_tool --as alice
  expect_run 0 "" repaired repaired
  expect_hosts "$GOOD_HOSTS"
  expect_entry "$GOOD_ENTRY"
  [ "$(identity /etc/hosts)" = "$hosts_before" ] ||
    fail "/etc/hosts was $hosts_before, is $(identity /etc/hosts)"
  [ "$(identity "$ENTRY")" = "$entry_before" ] ||
    fail "the entry was $entry_before, is $(identity "$ENTRY")"
  same "the hard link to /etc/hosts" "$GOOD_HOSTS" /etc/hosts.link
  for file in /etc/hosts "$ENTRY"; do
    getfacl -cp "$file" 2>/dev/null | grep -q -x 'user:bob:r--' || fail "$file lost its ACL entry"
  done
  no_repair_file_left
}
repair_keeps_mode_0644() { repair_keeps_what_the_files_were 644 root; }
repair_keeps_mode_0640_and_group() { repair_keeps_what_the_files_were 640 alice; }

# Container engines bind-mount a file of their own over /etc/hosts.
bind_mounted_hosts_file() {
  printf '%s' "$BROKEN_HOSTS" >"$CASE/container-hosts"
  chmod 644 "$CASE/container-hosts"
  mount --bind "$CASE/container-hosts" /etc/hosts
  run_tool --as alice
  expect_run 0 "" repaired correct
  same "the mounted file" "$GOOD_HOSTS" "$CASE/container-hosts"
  awk '$5 == "/etc/hosts" { found = 1 } END { exit !found }' /proc/self/mountinfo ||
    fail "/etc/hosts is no longer a mount point"
}

hosts_missing_created_for_a_user_with_umask_077() {
  rm /etc/hosts
  run_tool --as alice --wrap "$(wrapper umask-077 'umask 077')"
  expect_run 0 "" repaired correct
  expect_hosts "$CANON
"
  [ "$(stat -c '%U:%G %a' /etc/hosts)" = "root:root 644" ] ||
    fail "/etc/hosts is $(stat -c '%U:%G %a' /etc/hosts)"
  as_user mallory cat /etc/hosts >/dev/null || fail "others cannot read the new hosts file"
}

# A hosts file managed elsewhere through a link: the link stays, the text
# lands in the file it points to. A link to nothing is not replaced.
hosts_is_a_link() {
  printf '%s' "$BROKEN_HOSTS" >"$CASE/managed-hosts"
  chmod 644 "$CASE/managed-hosts"
  rm /etc/hosts
  ln -s "$CASE/managed-hosts" /etc/hosts
  run_tool --as alice
  expect_run 0 "" repaired correct
  [ "$(readlink /etc/hosts)" = "$CASE/managed-hosts" ] || fail "the link was replaced"
  same "the linked file" "$GOOD_HOSTS" "$CASE/managed-hosts"
}

hosts_is_a_dangling_link() {
  rm /etc/hosts
  ln -s "$CASE/nowhere" /etc/hosts
  run_tool --as alice
  expect_run 0 "" failed correct
  [ "$(readlink /etc/hosts)" = "$CASE/nowhere" ] || fail "the link was replaced"
  [ ! -e "$CASE/nowhere" ] || fail "a file was made where the link points"
  no_repair_file_left
}

# What runs as root is /bin/cp, whatever the user's PATH holds.
planted_cp_on_the_users_path() {
  give_hosts "$BROKEN_HOSTS"
  give_entry "$BROKEN_ENTRY"
  mkdir -p "$CASE/planted"
  for name in cp mv; do
    printf '#!/bin/sh\necho "planted %s ran as $(id -un)" >>/tmp/planted.log\nexec /bin/%s "$@"\n' \
      "$name" "$name" >"$CASE/planted/$name"
    chmod 755 "$CASE/planted/$name"
  done
  run_tool --as alice --wrap "env PATH=$CASE/planted:$PATH"
  expect_run 0 "" repaired repaired
  expect_hosts "$GOOD_HOSTS"
  [ ! -e /tmp/planted.log ] || fail "$(cat /tmp/planted.log)"
}

# An empty element of PATH would make the shell look in the working directory.
pkexec_in_the_working_directory() {
  give_hosts "$BROKEN_HOSTS"
  give_entry "$BROKEN_ENTRY"
  mkdir -p "$CASE/cwd"
  printf '#!/bin/sh\necho "planted pkexec ran" >>/tmp/planted.log\n' >"$CASE/cwd/pkexec"
  chmod 755 "$CASE/cwd/pkexec"
  for path in ":$PATH" "$PATH:" "/nonexistent::$PATH"; do
    give_hosts "$BROKEN_HOSTS"
    give_entry "$BROKEN_ENTRY"
    echo "PATH=$path:"
    run_tool --as alice --wrap "env -C $CASE/cwd PATH=$path"
    expect_run 0 "" repaired repaired
    expect_hosts "$GOOD_HOSTS"
    expect_entry "$GOOD_ENTRY"
  done
  [ ! -e /tmp/planted.log ] || fail "$(cat /tmp/planted.log)"
}

# A stop signal while the first repair's command waits (a stand-in for the
# prompt that ignores every stop signal, as the program starts it): the
# command is ended at once, no second command starts, the report says what
# failed, the program ends by the signal, and nothing of the run is left.
stopped_during_the_first_repair() {  # SIGNAL NUMBER group|pid [SECOND-SIGNAL]
  give_hosts "$BROKEN_HOSTS"
  give_entry "$BROKEN_ENTRY"
  wrap=$(logged_pkexec 'exec env CHECKTOOL_STAND_IN=1 sleep 60')
  run_tool --as alice --wrap "$wrap $SYSTEST_LAUNCH --group --pidfile /tmp/pid --outcome /tmp/outcome --" &
  runner=$!
  wait_until 'pid_file /tmp/pid && stand_in_runs -P "$(cat /tmp/pid)"' || fail "the stand-in never ran"
  start=$(ms)
  if [ "$3" = group ]; then
    kill "-$1" "-$(cat /tmp/pid)"
  else
    kill "-$1" "$(cat /tmp/pid)"
  fi
  [ -z "${4:-}" ] || kill "-$4" "$(cat /tmp/pid)" 2>/dev/null
  wait "$runner"
  took=$(($(ms) - start))
  [ "$took" -le 2000 ] || fail "the program ended ${took} ms after the stop"
  number=$2
  expect_run $((128 + number)) "" failed failed
  [ "$(cat /tmp/outcome 2>/dev/null)" = "signal $number" ] ||
    fail "the program ended with $(cat /tmp/outcome 2>/dev/null), not by SIG$1"
  [ "$(pkexec_calls)" -eq 1 ] || fail "pkexec ran $(pkexec_calls) times: $(cat "$CASE/pkexec.log")"
  expect_hosts "$BROKEN_HOSTS"
  expect_entry "$BROKEN_ENTRY"
  none_left CHECKTOOL_STAND_IN
}
ctrl_c_during_the_first_repair() { stopped_during_the_first_repair INT 2 group; }
sigint_to_the_program_alone() { stopped_during_the_first_repair INT 2 pid; }
sigquit_to_the_program_alone() { stopped_during_the_first_repair QUIT 3 pid; }
sigterm_to_the_program_alone() { stopped_during_the_first_repair TERM 15 pid; }
sighup_to_the_program_alone() { stopped_during_the_first_repair HUP 1 pid; }
the_first_stop_is_the_one_obeyed() { stopped_during_the_first_repair TERM 15 pid HUP; }

# ms: milliseconds since some fixed point.
ms() { echo $(($(date +%s%N) / 1000000)); }

# A stop ends the program within 2 s however the prompt behaves: polkit
# taking its time to answer while /proc hides the set-user-ID pkexec from
# the user (hidepid), or a pkexec wrapper whose background job ignores
# SIGINT. Nothing is copied afterwards.
prompt_ended_quickly() {  # USER SHELL-LINE-FOR-A-WRAPPER READY NUMBER-OF-THE-FIRST SIGNAL...
  user=$1
  stand_in=$2
  ready=$3  # a condition: the prompt is in the state the stop must find
  number=$4
  shift 4
  give_hosts "$BROKEN_HOSTS"
  mount -t proc -o hidepid=invisible proc /proc
  run_tool --as "$user" --wrap "$(logged_pkexec "$stand_in") $SYSTEST_LAUNCH --pidfile /tmp/pid --outcome /tmp/outcome --" &
  runner=$!
  wait_until "pid_file /tmp/pid && $ready" || fail "the prompt never got ready: $ready"
  start=$(ms)
  for signal in "$@"; do
    kill "-$signal" "$(cat /tmp/pid)" 2>/dev/null
  done
  wait "$runner"
  took=$(($(ms) - start))
  [ "$took" -le 2000 ] || fail "the program ended ${took} ms after the stop"
  expect_run $((128 + number)) "" failed correct
  # No prompt is left to copy once polkit answers (the real pkexec: a
  # subshell of the wrapper bears its name too).
  if pkexec_runs; then fail "pkexec outlived the program"; fi
  expect_hosts "$BROKEN_HOSTS"
  pkill -f CHECKTOOL_BACKGROUND_JOB 2>/dev/null
  # polkit answers nobody else until it is done thinking for the pkexec
  # that is gone: the next case's pkexec must not wait behind it.
  wait_until '! polkit_thinks' || fail "polkit still thinks"
}
stopped_while_polkit_thinks_with_hidepid() {
  # stopped once the real pkexec is the program's child and polkit thinks
  prompt_ended_quickly dave '' 'child_runs "$(cat /tmp/pid)" /usr/bin/pkexec && polkit_thinks' 15 TERM
}
stopped_with_a_background_job_in_the_wrapper() {
  # stopped once the background job runs, with SIGINT ignored
  prompt_ended_quickly alice '(trap "" INT; exec sh -c "sleep 60 # CHECKTOOL_BACKGROUND_JOB") &
wait' 'pgrep -f CHECKTOOL_BACKGROUND_JOB >/dev/null' 2 INT TERM
}

# A copy under way (a stand-in for /bin/cp that waits before it copies, run
# as root by the real pkexec) is never cut short: neither by a user's
# SIGTERM to the process group (the client ending us), nor by SIGINT or
# SIGHUP from root to the whole group (as a terminal sends Ctrl-C or its
# hang-up). The program waits for the copy, the report says what the file
# holds, and the program then ends by the signal.
copy_under_way() {  # USER SIGNAL NUMBER
  give_hosts "$BROKEN_HOSTS"
  cp /bin/cp "$CASE/real-cp"
  mkfifo /tmp/go
  printf '#!/bin/sh\n[ -e /tmp/copy-started ] || { touch /tmp/copy-started; read go </tmp/go; }\nexec %s "$@"\n' \
    "$CASE/real-cp" >"$CASE/slow-cp"
  chmod 755 "$CASE/slow-cp"
  mount --bind "$CASE/slow-cp" /bin/cp
  run_tool --as "$1" --wrap "$SYSTEST_LAUNCH --group --pidfile /tmp/pid --outcome /tmp/outcome --" &
  runner=$!
  wait_until 'pid_file /tmp/pid && [ -e /tmp/copy-started ]' || fail "the copy never started"
  if [ "$1" = root ]; then
    kill "-$2" "-$(cat /tmp/pid)"
  else
    as_user "$1" sh -c 'kill "-$1" "-$2"' sh "$2" "$(cat /tmp/pid)"
  fi
  echo go >/tmp/go
  wait "$runner"
  expect_run $((128 + $3)) "" repaired correct
  expect_hosts "$GOOD_HOSTS"
  if pgrep -f "$CASE/real-cp" >/dev/null; then fail "the copy outlived the program"; fi
}
sigterm_to_the_group_during_the_copy() { copy_under_way alice TERM 15; }
ctrl_c_to_the_group_during_the_copy() { copy_under_way root INT 2; }
hang_up_to_the_group_during_the_copy() { copy_under_way root HUP 1; }

# Started with SIGHUP ignored (nohup): a hang-up changes nothing.
hang_up_under_nohup() {
  give_hosts "$BROKEN_HOSTS"
  give_entry "$BROKEN_ENTRY"
  wrap=$(logged_pkexec 'touch /tmp/pkexec-started; while [ ! -e /tmp/hung-up ]; do sleep 0.05; done')
  run_tool --as alice --wrap "$wrap nohup $SYSTEST_LAUNCH --pidfile /tmp/pid --" &
  runner=$!
  wait_until 'pid_file /tmp/pid && [ -e /tmp/pkexec-started ]' || fail "the prompt never started"
  kill -HUP "$(cat /tmp/pid)"
  touch /tmp/hung-up
  wait "$runner"
  expect_run 0 "" repaired repaired
  expect_hosts "$GOOD_HOSTS"
  expect_entry "$GOOD_ENTRY"
}

# A stop while no command runs (here: while waiting for another run's lock)
# ends the run the same way, without any prompt.
stopped_while_waiting_for_the_lock() {
  give_hosts "$BROKEN_HOSTS"
  as_user alice flock "/tmp/checktool-$(id -u alice).lock" sleep 100 &
  holder=$!
  run_tool --as alice --wrap "$(logged_pkexec) $SYSTEST_LAUNCH --pidfile /tmp/pid --outcome /tmp/outcome --" &
  runner=$!
  # The program waits for the lock between attempts in nanosleep.
  wait_until '[ -s /tmp/pid ] && grep -q nanosleep "/proc/$(cat /tmp/pid)/wchan" 2>/dev/null'
  start=$(ms)
  kill -TERM "$(cat /tmp/pid)"
  wait "$runner"
  took=$(($(ms) - start))
  kill "$holder"
  [ "$took" -le 2000 ] || fail "the program ended ${took} ms after the stop"
  expect_run 143 "" failed correct
  [ "$(cat /tmp/outcome 2>/dev/null)" = "signal 15" ] || fail "ended with $(cat /tmp/outcome)"
  [ "$(pkexec_calls)" -eq 0 ] || fail "pkexec ran: $(cat "$CASE/pkexec.log")"
  expect_hosts "$BROKEN_HOSTS"
}

# carol types her password on a terminal (a pseudo-terminal made by
# script), to her own text agent, while the copy reads the text on its
# standard input.
password_typed_on_a_terminal() {
  give_hosts "$BROKEN_HOSTS"
  # pkexec's own text agent cannot answer polkit without a login session (it
  # registers as root); a user's pkttyagent for the command's shell can.
  mkdir -p "$CASE/bin"
  cat >"$CASE/bin/pkexec" <<'AGENT'
#!/bin/sh
mkfifo /tmp/agent-ready
pkttyagent --process $PPID --notify-fd 3 3>/tmp/agent-ready &
agent=$!
cat /tmp/agent-ready >/dev/null
# pkexec in place, as the program's one child: the agent answers for its
# parent, the program; it ends once pkexec runs as root (or is gone).
(while kill -0 $$ 2>/dev/null; do sleep 0.1; done; kill "$agent") &
exec /usr/bin/pkexec "$@"
AGENT
  chmod 755 "$CASE/bin/pkexec"
  # The password is typed once the agent reads it: echo off on its terminal.
  (
    wait_until 'grep -q "^Password:" /tmp/typescript 2>/dev/null' || exit 0
    tty=$(find "/proc/$(pgrep -x pkttyagent)/fd" -lname '/dev/pts/*' -printf '%l\n' | head -n 1)
    wait_until 'stty -F "$tty" -a | grep -q -e " -echo "'
    printf '%s\n' "$CAROL_PASSWORD"
    wait_until '[ -s /tmp/status ]'
  ) | as_user carol env PATH="$CASE/bin:$PATH" script -qfec \
    "timeout --foreground 60 $CHECKTOOL_BIN --path /tmp/report.html --lang en; echo \$? >/tmp/status" /tmp/typescript \
    >/dev/null
  cp /tmp/typescript "$CASE/typescript"
  cp /tmp/status "$CASE/status"
  cp /tmp/report.html "$CASE/report.html"
  : >"$CASE/stdout"
  expect_run 0 "" repaired correct
  expect_hosts "$GOOD_HOSTS"
  grep -q 'AUTHENTICATION COMPLETE' /tmp/typescript || fail "no password was asked on the terminal"
}

# Ctrl-C at a text agent's password prompt (a stand-in that turns echo off
# and waits, as an agent reading a password does): the prompt ends, and the
# terminal has echo on again, though the shell that started the program
# (dash) puts nothing back. A prompt that ends by itself (authorised) is
# not ours to tidy up after: what it left on the terminal stays.
terminal_after_a_prompt() {  # interrupted|authorised
  give_hosts "$BROKEN_HOSTS"
  if [ "$1" = interrupted ]; then
    wrap=$(logged_pkexec 'stty -echo </dev/tty; exec env CHECKTOOL_STAND_IN=1 sleep 60')
    status=130 cells=failed modes=' echo ' ready='stand_in_runs -u alice'
  else
    wrap=$(logged_pkexec 'stty -echo </dev/tty; touch /tmp/asking')
    status=0 cells=repaired modes=' -echo ' ready='[ -e /tmp/asking ]'
  fi
  (
    wait_until "$ready"
    [ "$1" = authorised ] || printf '\003'
    wait_until '[ -s /tmp/status ]'
  ) | as_user alice script -qfec \
    "trap : INT; $wrap timeout --foreground 60 $CHECKTOOL_BIN --path /tmp/report.html --lang en; echo \$? >/tmp/status.new; stty -a >/tmp/stty; mv /tmp/status.new /tmp/status" \
    /tmp/typescript >/dev/null
  cp /tmp/status "$CASE/status"
  cp /tmp/report.html "$CASE/report.html"
  : >"$CASE/stdout"
  expect_run "$status" "" "$cells" correct
  grep -q -e "$modes" /tmp/stty || fail "afterwards: $(cat /tmp/stty)"
}
ctrl_c_at_the_password_prompt() { terminal_after_a_prompt interrupted; }
a_prompt_that_ends_by_itself() { terminal_after_a_prompt authorised; }

# The target removed after the authorisation, before the copy starts (a
# stand-in for /bin/cp that removes it first), whatever the caller's umask:
# the copy creates it root's, 0644, and the resolver reads the entry.
removed_before_the_copy() {  # UMASK
  give_hosts "$BROKEN_HOSTS"
  cp /bin/cp "$CASE/real-cp"
  printf '#!/bin/sh\n[ -e /tmp/removed ] || { touch /tmp/removed; rm /etc/hosts; }\nexec %s "$@"\n' \
    "$CASE/real-cp" >"$CASE/removing-cp"
  chmod 755 "$CASE/removing-cp"
  mount --bind "$CASE/removing-cp" /bin/cp
  run_tool --as alice --wrap "$(wrapper umask "umask $1")"
  [ -e /tmp/removed ] || fail "the file was not removed"
  expect_run 0 "" repaired correct
  expect_hosts "$GOOD_HOSTS"
  [ "$(stat -c '%U:%G %a' /etc/hosts)" = "root:root 644" ] ||
    fail "/etc/hosts is $(stat -c '%U:%G %a' /etc/hosts)"
  [ "$(getent hosts "$PRODUCT")" = "127.0.0.1       $PRODUCT" ] ||
    fail "the resolver answers $(getent hosts "$PRODUCT")"
}
removed_before_the_copy_umask_000() { removed_before_the_copy 000; }
removed_before_the_copy_umask_022() { removed_before_the_copy 022; }

# A file dated ahead (written before the clock was set back) is repaired.
hosts_dated_an_hour_ahead() {
  give_hosts "$BROKEN_HOSTS"
  give_entry "$BROKEN_ENTRY"
  touch -d '+1 hour' /etc/hosts "$ENTRY"
  run_tool --as alice
  expect_run 0 "" repaired repaired
  expect_hosts "$GOOD_HOSTS"
  expect_entry "$GOOD_ENTRY"
}

# What someone else writes while the prompt is open (polkit thinks for dave)
# is kept: both rows say Defeated, and the next run repairs both files and
# keeps both additions.
changed_during_the_prompt() {
  give_hosts "$BROKEN_HOSTS"
  give_entry "$BROKEN_ENTRY"
  run_tool --as dave --wrap "$(logged_pkexec)" &
  runner=$!
  wait_until pkexec_runs || fail "pkexec never ran"
  echo "10.9.9.9 added.example" >>/etc/hosts
  echo "Comment=added" >>"$ENTRY"
  wait "$runner"
  expect_run 0 "" failed failed
  expect_hosts "${BROKEN_HOSTS}10.9.9.9 added.example
"
  expect_entry "${BROKEN_ENTRY}Comment=added
"
  run_tool --as alice --report /tmp/report-of-alice.html
  expect_run 0 "" repaired repaired
  expect_hosts "${GOOD_HOSTS}10.9.9.9 added.example
"
  expect_entry "${GOOD_ENTRY}Comment=added
"
}

# A change made while the prompt is open (polkit thinks for dave, 6 s) ends
# the prompt within 2 s and is kept, whatever time it leaves on the file;
# the row says Defeated. What needs no right to the file (a hard link, a
# reading, its access time, another file in /etc) ends nothing: Success.
ENTRY_UNPACKED="[Desktop Entry]
Type=Application
Name=Tolvane (packaged)
Exec=/opt/tolvane/bin/tolvane %u
"
OTHER_HOSTS="127.0.0.1 localhost
10.1.1.1 nas.example
"
changed_while_asking() {  # KIND
  give_hosts "$BROKEN_HOSTS"
  cells="failed correct" file=/etc/hosts kept=$OTHER_HOSTS
  printf '%s' "$OTHER_HOSTS" >"$CASE/older"
  touch -d '-2 days' "$CASE/older"
  case $1 in
    append) change='echo "10.9.9.9 added.example" >>/etc/hosts' kept="${BROKEN_HOSTS}10.9.9.9 added.example
" ;;
    copied_older) change='cp -p "$CASE/older" /etc/hosts' ;;
    dated_back) change="touch -d '-1 day' /etc/hosts" kept=$BROKEN_HOSTS ;;
    renamed_over) change='cp "$CASE/older" /etc/hosts.new && mv /etc/hosts.new /etc/hosts' ;;
    created) rm /etc/hosts; change='cp "$CASE/older" /etc/hosts' ;;
    mounted_over) change='mount --bind "$CASE/older" /etc/hosts' ;;  # no event tells of it
    written_still_open)  # only IN_MODIFY tells: the writer keeps the file open
      change='(exec 3>>/etc/hosts; echo "10.9.9.9 added.example" >&3; sleep 4) &'
      kept="${BROKEN_HOSTS}10.9.9.9 added.example
" ;;
    unpacked_entry)
      give_hosts "$GOOD_HOSTS"
      give_entry "$BROKEN_ENTRY"
      mkdir -p "$CASE/pkg${ENTRY%/*}"
      printf '%s' "$ENTRY_UNPACKED" >"$CASE/pkg$ENTRY"
      touch -d '2020-01-01' "$CASE/pkg$ENTRY"
      tar -C "$CASE/pkg" -cf "$CASE/pkg.tar" "${ENTRY#/}"
      change='tar -C / -xf "$CASE/pkg.tar"'
      cells="correct failed" file=$ENTRY kept=$ENTRY_UNPACKED
      ;;
    entry_repaired_and_more)  # the repair and a line more is no repair
      give_hosts "$GOOD_HOSTS"
      give_entry "$BROKEN_ENTRY"
      change='printf "%sExec=evil %%u\n" "$GOOD_ENTRY" >"$ENTRY"'
      cells="correct failed" file=$ENTRY kept="${GOOD_ENTRY}Exec=evil %u
"
      ;;
    whole_seconds)  # ext2 with 128-byte inodes keeps whole seconds
      head -c 4M /dev/zero >"$CASE/fs.img"
      mkfs.ext2 -q -I 128 "$CASE/fs.img"
      mkdir "$CASE/mnt"
      mount -o loop "$CASE/fs.img" "$CASE/mnt"
      printf '%s' "$BROKEN_HOSTS" >"$CASE/mnt/hosts"
      mount --bind "$CASE/mnt/hosts" /etc/hosts
      change='echo "10.9.9.9 added.example" >>/etc/hosts' kept="${BROKEN_HOSTS}10.9.9.9 added.example
"
      ;;
    nothing_of_its_own)
      change='ln /etc/hosts /etc/hosts.hard; cat /etc/hosts >/dev/null; touch -a /etc/hosts; touch /etc/other'
      cells="repaired correct" kept=$GOOD_HOSTS
      ;;
    linked_copied_older)  # the file a link leads to, given an older time
      printf '%s' "$BROKEN_HOSTS" >"$CASE/managed-hosts"
      rm /etc/hosts
      ln -s "$CASE/managed-hosts" /etc/hosts
      change='cp -p "$CASE/older" "$CASE/managed-hosts"'
      ;;
    mapped_on_tmpfs|mapped_on_overlayfs)  # no event, nor a new size or time, tells of it
      if [ "$1" = mapped_on_tmpfs ]; then
        mkdir "$CASE/tmpfs"
        mount -t tmpfs tmpfs "$CASE/tmpfs"
        printf '%s' "$BROKEN_HOSTS" >"$CASE/tmpfs/hosts"
        mount --bind "$CASE/tmpfs/hosts" /etc/hosts
      fi  # else /etc is an overlay mount already
      # One byte, "10.0.0.1" to "10.0.0.2", with the descriptor closed first.
      change='python3 -c "import mmap, os
fd = os.open(\"/etc/hosts\", os.O_RDWR); m = mmap.mmap(fd, 0); os.close(fd)
m[27:28] = b\"2\"; m.close()"'
      kept="127.0.0.1 localhost
10.0.0.2 local.tolvane.com
"
      ;;
    beneath_the_overlay)  # the upper layer written directly, its time put back: only the content tells
      touch -r /etc/hosts "$CASE/stamp"
      change='printf 2 | dd of="$CASE/ov/etc-up/hosts" bs=1 seek=27 conv=notrunc status=none
        touch -m -r "$CASE/stamp" "$CASE/ov/etc-up/hosts"'
      kept="127.0.0.1 localhost
10.0.0.2 local.tolvane.com
"
      ;;
    paused_to_the_repair)  # empties the file, pauses past the quiet time, writes the repair
      printf '%s' "$GOOD_HOSTS" >"$CASE/final"
      kept=$GOOD_HOSTS cells="repaired correct"
      change='python3 -c "import sys, time
with open(\"/etc/hosts\", \"wb\") as hosts:
    time.sleep(0.4); hosts.write(open(sys.argv[1], \"rb\").read())" "$CASE/final"'
      ;;
    in_steps_to_the_repair|in_steps_and_more)  # 8 bytes every 60 ms, for about half a second
      kept=$GOOD_HOSTS
      cells="repaired correct"
      [ "$1" = in_steps_to_the_repair ] || kept="${GOOD_HOSTS}10.9.9.9 added.example
" cells="failed correct"
      printf '%s' "$kept" >"$CASE/final"
      # Each piece appended as a shell's >> would: opened, written, closed.
      change='python3 -c "import sys, time
text = open(sys.argv[1], \"rb\").read()
open(\"/etc/hosts\", \"wb\").close()
for at in range(0, len(text), 8):
    time.sleep(0.06)
    with open(\"/etc/hosts\", \"ab\") as hosts:
        hosts.write(text[at:at + 8])" "$CASE/final"'
      ;;
  esac
  run_tool --as dave --wrap "$(logged_pkexec)" &
  runner=$!
  wait_until pkexec_runs || fail "pkexec never ran"
  eval "$change"
  start=$(ms)  # the change is done (or under way, where it runs on)
  wait "$runner"
  took=$(($(ms) - start))
  # shellcheck disable=SC2086
  expect_run 0 "" $cells
  same "$file" "$kept" "$file"
  case $cells in
    failed*|*failed) [ "$took" -le 2000 ] || fail "the run ended ${took} ms after the change" ;;
  esac
}
CHANGES="append copied_older dated_back renamed_over created mounted_over written_still_open
  unpacked_entry entry_repaired_and_more whole_seconds nothing_of_its_own linked_copied_older
  mapped_on_tmpfs mapped_on_overlayfs in_steps_to_the_repair in_steps_and_more paused_to_the_repair beneath_the_overlay"
for kind in $CHANGES; do
  eval "changed_while_asking_$kind() { changed_while_asking $kind; }"
done

# Job control on a terminal: a pseudo-terminal made by script, running an
# interactive dash, which puts back no terminal modes of its own (what the
# terminal holds is what the program and its prompt left there).
#   prompt      Ctrl-Z at a prompt (a stand-in that turns echo off and waits,
#               ignoring the signals as the copy does): the prompt ends
#               before the job stops, none is left reading the terminal, and
#               echo is back for the shell; a mode the user sets while the
#               job is stopped survives its end; after fg the prompt asks
#               again (the real pkexec) and repairs.
#   ignored     the same, with Ctrl-Z ignored from the start: it changes
#               nothing, the one prompt reads its answer.
#   copy        Ctrl-Z during a copy as root (a stand-in for /bin/cp that
#               waits): the copy goes on while the job is stopped.
#   background  started with &, where carol's text agent asks: the job stops
#               before the agent changes the terminal, fg brings the prompt,
#               her password repairs.
#   bg          Ctrl-Z at carol's prompt, then bg: the same.
#   unasked     started with &, where nothing reads the terminal (polkit
#               answers for alice, as a graphical agent would without it):
#               the job never stops, and repairs.
job_control() {  # prompt|ignored|copy|background|bg|unasked
  give_hosts "$BROKEN_HOSTS"
  user=alice ignore= amp= cells=repaired
  case $1 in
    prompt) wrap=$(logged_pkexec '[ -e /tmp/asked ] || { touch /tmp/asked; stty -echo </dev/tty; touch /tmp/asking; exec env CHECKTOOL_STAND_IN=1 sleep 60; }') ;;
    ignored)
      ignore='trap "" TSTP;'
      wrap=$(logged_pkexec 'stty -echo </dev/tty; touch /tmp/asking; read answer </dev/tty; stty echo </dev/tty') ;;
    copy)
      user=root wrap=
      cp /bin/cp "$CASE/real-cp"
      printf '#!/bin/sh\ntouch /tmp/asking\nwhile [ ! -e /tmp/go ]; do sleep 0.05; done\nexec %s "$@"\n' \
        "$CASE/real-cp" >"$CASE/slow-cp"
      chmod 755 "$CASE/slow-cp"
      mount --bind "$CASE/slow-cp" /bin/cp ;;
    unasked) amp=' &' wrap=$(logged_pkexec) ;;
    background|bg)
      user=carol
      [ "$1" = bg ] || amp=' &'
      # carol's agent answers for the program, pkexec's parent (see
      # password_typed_on_a_terminal); it ends once pkexec is gone (killed:
      # it ignores what the copy ignores).
      wrap=$(logged_pkexec 'rm -f /tmp/agent-ready; mkfifo /tmp/agent-ready
pkttyagent --process $PPID --notify-fd 3 3>/tmp/agent-ready &
agent=$!
cat /tmp/agent-ready >/dev/null
(while kill -0 $$ 2>/dev/null; do sleep 0.1; done; kill -KILL "$agent") &') ;;
  esac
  program=$(readlink -f "$CHECKTOOL_BIN")
  printf '%s' "$GOOD_HOSTS" >"$CASE/good"
  (
    pid() { pgrep -f -x "$program --path /tmp/report.html --lang en"; }
    stopped() { grep -q "^State:.*T" "/proc/$(pid)/status" 2>/dev/null; }
    modes() { stty -F "$(cat /tmp/tty)" -a | tr '\n' ' '; }
    asks() { grep -q 'Password:' /tmp/typescript && modes | grep -q -e ' -echo '; }
    printf 'tty >/tmp/tty\n'
    wait_until '[ -s /tmp/tty ]'
    modes >/tmp/modes.before
    # One job: the status is written once the program has ended.
    printf '%s\n' "sh -c '$ignore $wrap $CHECKTOOL_BIN --path /tmp/report.html --lang en; echo \$? >/tmp/status.new; stty -a >/tmp/stty; mv /tmp/status.new /tmp/status'$amp"
    case $1 in
      background)
        wait_until stopped || { echo "the job did not stop" >>/tmp/failure; exit; }
        [ "$(modes)" = "$(cat /tmp/modes.before)" ] ||
          echo "modes changed in the background: $(modes)" >>/tmp/failure
        printf 'fg\n' ;;
      bg)
        wait_until asks
        printf '\032'
        wait_until 'stopped && ! pgrep -x pkexec >/dev/null && ! pgrep -x pkttyagent >/dev/null'
        modes >/tmp/modes.stopped
        printf 'bg\n'
        wait_until '[ "$(wc -l <"$CASE/pkexec.log")" = 2 ] && stopped' ||
          { echo "the job did not stop again in the background" >>/tmp/failure; exit; }
        [ "$(modes)" = "$(cat /tmp/modes.stopped)" ] ||
          echo "modes changed in the background: $(modes)" >>/tmp/failure
        printf 'fg\n' ;;
      ignored)
        wait_until '[ -e /tmp/asking ]'
        printf '\032answer\n' ;;
      unasked) ;;
      *)
        if [ "$1" = copy ]; then
          wait_until '[ -e /tmp/asking ]'  # the slow copy runs
        else
          wait_until 'stand_in_runs -u alice'  # the stand-in itself, echo off
        fi
        printf '\032'
        wait_until stopped
        if [ "$1" = copy ]; then
          touch /tmp/go
          wait_until 'cmp -s /etc/hosts "$CASE/good"' ||
            echo "the copy did not finish while the job was stopped" >>/tmp/failure
        else
          if grep -l -s -a CHECKTOOL_STAND_IN /proc/[0-9]*/environ >/dev/null; then
            echo "a prompt is left behind the shell's back" >>/tmp/failure
          fi
          modes | grep -q -e ' echo ' || echo "no echo for the shell: $(modes)" >>/tmp/failure
          printf 'stty -ixon\n'
          wait_until 'modes | grep -q -e " -ixon "'
        fi
        printf 'fg\n' ;;
    esac
    if [ "$1" = background ] || [ "$1" = bg ]; then
      wait_until asks || echo "no prompt after fg" >>/tmp/failure
      printf '%s\n' "$CAROL_PASSWORD"
    fi
    wait_until '[ -s /tmp/status ]'
    printf 'exit\n'
  ) | as_user "$user" env -i PATH="$CASE/bin:$PATH" HOME=/nonexistent TERM=xterm CASE="$CASE" \
    script -qfec "sh -i" /tmp/typescript >/dev/null
  [ ! -e /tmp/failure ] || fail "$(cat /tmp/failure)"
  cp /tmp/status "$CASE/status"
  cp /tmp/report.html "$CASE/report.html"
  : >"$CASE/stdout"
  cp /tmp/typescript "$CASE/typescript"
  expect_run 0 "" $cells correct
  expect_hosts "$GOOD_HOSTS"
  case $1 in
    prompt)
      [ "$(pkexec_calls)" -eq 2 ] || fail "pkexec ran $(pkexec_calls) times"
      grep -q -e ' -ixon ' /tmp/stty || fail "the mode set while stopped was undone: $(cat /tmp/stty)" ;;
    ignored|unasked)
      [ "$(pkexec_calls)" -eq 1 ] || fail "pkexec ran $(pkexec_calls) times"
      if grep -q Stopped /tmp/typescript; then fail "the job stopped"; fi ;;
  esac
}
for kind in prompt ignored copy background bg unasked; do
  eval "job_control_$kind() { job_control $kind; }"
done

# A file size limit (ulimit -f, in 512-byte blocks) below the corrected
# hosts file: its staging fails, so the copy as root, which would inherit
# the limit, never starts and never cuts the file short; the desktop entry
# is still checked and repaired, and the report written. Below the report's
# size: "Can't write".
file_size_limit() {
  filler="# $(head -c 6000 /dev/zero | tr '\0' x)"
  give_hosts "$BROKEN_HOSTS$filler
"
  give_entry "$BROKEN_ENTRY"
  run_tool --wrap "$(wrapper limit 'ulimit -f 8')"
  expect_run 0 "" failed repaired
  expect_hosts "$BROKEN_HOSTS$filler
"
  expect_entry "$GOOD_ENTRY"
  run_tool --wrap "$(wrapper limit 'ulimit -f 1')"
  expect_run 255 "Can't write /tmp/report.html
" "" ""
}

# A report path that would wait: a FIFO without a reader fails at once; one
# with a reader gets the whole report; a pipe that nobody empties is given
# up when a stop comes, and the program ends by it.
report_into_a_fifo() {
  mkfifo /tmp/fifo
  start=$(ms)
  run_tool --report /tmp/fifo
  took=$(($(ms) - start))
  [ "$took" -le 1000 ] || fail "it took ${took} ms to give up on the FIFO"
  expect_run 255 "Can't write /tmp/fifo
" "" ""
  cat /tmp/fifo >/tmp/from-the-fifo &
  reader=$!
  run_tool --report /tmp/fifo
  wait "$reader"
  cp /tmp/from-the-fifo "$CASE/report.html"
  expect_run 0 "" correct correct
}
# With the stop before the line (at the lock): the line is not waited for.
full_pipe() {  # report|stdout|stopped: which one is the full pipe, and when the stop comes
  mkfifo /tmp/fifo
  (exec 3</tmp/fifo; sleep 60) &
  head -c 65536 /dev/zero >/tmp/fifo  # full, and nobody reads it
  waiting='poll'  # for the report to be read
  if [ "$1" = report ]; then
    run_tool --report /tmp/fifo --wrap "$SYSTEST_LAUNCH --pidfile /tmp/pid --outcome /tmp/outcome --" &
  else  # the report cannot be written, and the line that says so waits
    waiting='pipe_write'  # (standard output is the FIFO from the start)
    if [ "$1" = stopped ]; then
      flock /run/checktool.lock sh -c 'touch /tmp/held; exec sleep 60' &
      wait_until '[ -e /tmp/held ]'
      waiting='nanosleep'  # at the lock
    fi
    "$SYSTEST_LAUNCH" --pidfile /tmp/pid --outcome /tmp/outcome -- "$CHECKTOOL_BIN" \
      --path "$CASE/missing/r.html" --lang en >/tmp/fifo &
    echo 0 >"$CASE/status"
  fi
  runner=$!
  wait_until '[ -s /tmp/pid ] && ls -l "/proc/$(cat /tmp/pid)/fd" 2>/dev/null | grep -q /tmp/fifo &&
    grep -q -e "$waiting" "/proc/$(cat /tmp/pid)/wchan" 2>/dev/null' || fail "never seen waiting in $waiting"
  start=$(ms)
  kill -TERM "$(cat /tmp/pid)"
  wait "$runner"
  took=$(($(ms) - start))
  [ "$took" -le 2000 ] || fail "the program ended ${took} ms after the stop"
  [ "$(cat /tmp/outcome 2>/dev/null)" = "signal 15" ] || fail "ended with $(cat /tmp/outcome 2>/dev/null)"
  pkill -f 'sleep 60' 2>/dev/null
}
report_into_a_full_pipe() { full_pipe report; }
line_into_a_full_pipe() { full_pipe stdout; }
line_into_a_full_pipe_after_a_stop() { full_pipe stopped; }

# pkexec refuses to run for a login shell missing from /etc/shells, or for
# a locale variable holding "/", "%" or "..": the program gives it neither.
an_environment_pkexec_refuses() {
  give_hosts "$BROKEN_HOSTS"
  give_entry "$BROKEN_ENTRY"
  run_tool --as alice --wrap "env SHELL=/usr/local/bin/zsh LANG=../x LC_ALL=%s LC_TIME=/x"
  expect_run 0 "" repaired repaired
  expect_hosts "$GOOD_HOSTS"
  expect_entry "$GOOD_ENTRY"
  if grep -q incident "$CASE/stderr"; then fail "pkexec said: $(cat "$CASE/stderr")"; fi
}

# LANG is read as a value, never expanded as a pattern.
lang_full_of_stars() {
  start=$(ms)
  run_tool --as alice --wrap "env LANG=/*/*/*/*/*/*/*"
  took=$(($(ms) - start))
  expect_run 0 "" correct correct
  [ "$took" -le 1000 ] || fail "the run took ${took} ms"
}

no_pkexec_on_path() {
  give_hosts "$BROKEN_HOSTS"
  give_entry "$BROKEN_ENTRY"
  run_tool --wrap "env PATH=/nonexistent"
  expect_run 0 "" failed failed
  expect_hosts "$BROKEN_HOSTS"
  expect_entry "$BROKEN_ENTRY"
  no_repair_file_left
}

report_on_dev_full() {
  give_hosts "$BROKEN_HOSTS"
  run_tool --report /dev/full
  expect_run 255 "Can't write /dev/full
" "" ""
  expect_hosts "$GOOD_HOSTS"  # the repair ran before the report failed
}

report_in_a_missing_directory() {
  run_tool --report "$CASE/missing/r.html"
  expect_run 255 "Can't write $CASE/missing/r.html
" "" ""
  [ ! -e "$CASE/missing" ] || fail "the directory was created"
}

# run_with_sigchld_ignored [run_tool options]: runs the program with SIGCHLD
# ignored, as a parent that ignores it leaves it (dash's `trap "" CHLD` does
# not survive exec, hence the launch helper). The user's run lock is held at first,
# so that the program waits at its start, where its signal dispositions are
# read and kept in $CASE/sigign.
run_with_sigchld_ignored() {
  lock=/run/checktool.lock
  [ "${1:-}" != --as ] || lock=/tmp/checktool-$(id -u "$2").lock
  as_user "${2:-root}" flock "$lock" sh -c \
    'touch /tmp/lock-held; while [ ! -e /tmp/lock-release ]; do sleep 0.05; done' &
  holder=$!
  wait_until '[ -e /tmp/lock-held ]'
  run_tool "$@" --wrap "$SYSTEST_LAUNCH --ignore-sigchld --pidfile /tmp/pid --" &
  runner=$!
  program=$(readlink -f "$CHECKTOOL_BIN")
  # At the lock: the program itself, waiting between attempts.
  wait_until '[ -s /tmp/pid ] && [ "$(readlink "/proc/$(cat /tmp/pid)/exe")" = "$program" ] &&
    grep -q nanosleep "/proc/$(cat /tmp/pid)/wchan" 2>/dev/null'
  awk '/^SigIgn:/ { print $2 }' "/proc/$(cat /tmp/pid)/status" >"$CASE/sigign"
  touch /tmp/lock-release
  wait "$runner"
  wait "$holder"
  mask=$(cat "$CASE/sigign")
  # SIGCHLD is signal 17: bit 16 of the mask.
  [ -n "$mask" ] && [ $((0x${mask#????????} & 0x10000)) -ne 0 ] ||
    fail "the program did not run with SIGCHLD ignored (SigIgn ${mask:-unknown})"
}

sigchld_ignored_by_the_parent() {
  give_hosts "$BROKEN_HOSTS"
  give_entry "$BROKEN_ENTRY"
  run_with_sigchld_ignored
  expect_run 0 "" repaired repaired
  expect_hosts "$GOOD_HOSTS"
  expect_entry "$GOOD_ENTRY"
}

sigchld_ignored_and_refused() {
  give_hosts "$BROKEN_HOSTS"
  run_with_sigchld_ignored --as bob
  expect_run 0 "" failed correct
  expect_hosts "$BROKEN_HOSTS"
}

cases() {
  for name in full_tmp hosts_is_a_directory hosts_unreadable_for_the_user hosts_missing \
    entry_missing authorised_user no_pkexec_on_path report_on_dev_full \
    report_in_a_missing_directory sigchld_ignored_by_the_parent sigchld_ignored_and_refused \
    repair_keeps_mode_0644 repair_keeps_mode_0640_and_group bind_mounted_hosts_file \
    hosts_missing_created_for_a_user_with_umask_077 hosts_is_a_link hosts_is_a_dangling_link \
    planted_cp_on_the_users_path pkexec_in_the_working_directory \
    descriptors_of_the_command authorisation_refused_by_polkit authorisation_dialog_dismissed \
    copy_fails_on_a_read_only_file \
    ctrl_c_during_the_first_repair sigint_to_the_program_alone sigquit_to_the_program_alone \
    sigterm_to_the_program_alone sighup_to_the_program_alone the_first_stop_is_the_one_obeyed \
    stopped_while_waiting_for_the_lock stopped_while_polkit_thinks_with_hidepid \
    stopped_with_a_background_job_in_the_wrapper sigterm_to_the_group_during_the_copy \
    ctrl_c_to_the_group_during_the_copy hang_up_to_the_group_during_the_copy hang_up_under_nohup \
    password_typed_on_a_terminal ctrl_c_at_the_password_prompt a_prompt_that_ends_by_itself \
    removed_before_the_copy_umask_000 removed_before_the_copy_umask_022 hosts_dated_an_hour_ahead changed_during_the_prompt \
    report_into_a_fifo report_into_a_full_pipe line_into_a_full_pipe line_into_a_full_pipe_after_a_stop \
    an_environment_pkexec_refuses lang_full_of_stars \
    file_size_limit; do
    run_case "$name" "$name"
  done
  for kind in prompt ignored copy background bg unasked; do
    run_case "job_control_$kind" "job_control_$kind"
  done
  for kind in $CHANGES; do
    run_case "changed_while_asking_$kind" "changed_while_asking_$kind"
  done
}
