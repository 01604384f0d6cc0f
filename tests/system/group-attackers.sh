# Attackers: mallory plants things in the shared /tmp before a run by root or
# by alice (who may use pkexec), and a second program of alice's acts while
# her prompt is open. Nothing may be written through a link, no victim file
# may change, nothing but the program's own text may become a system file,
# and no run may hang.

VICTIM_TEXT="the victim's own data
"

# plant KIND: mallory puts KIND at /tmp/check_hosts_tmp; the victim's file is
# /tmp/victim, owned by the user who runs the program.
plant() {
  printf '%s' "$VICTIM_TEXT" >/tmp/victim
  chown "$runner" /tmp/victim
  chmod 600 /tmp/victim
  case $1 in
    file) as_user mallory sh -c 'printf "6.6.6.6 local.tolvane.com\n" >/tmp/check_hosts_tmp; chmod 666 /tmp/check_hosts_tmp' ;;
    symlink) as_user mallory ln -s /tmp/victim /tmp/check_hosts_tmp ;;
    fifo) as_user mallory mkfifo -m 666 /tmp/check_hosts_tmp ;;
    directory) as_user mallory mkdir -m 777 /tmp/check_hosts_tmp ;;
  esac
}

# The repair never uses the old temporary path: what mallory put there stays
# hers, untouched, and the repair succeeds.
attack() {  # attack KIND: a broken hosts file, mallory's plant, a run by $runner
  give_hosts "$BROKEN_HOSTS"
  plant "$1"
  ls -ld --time-style=+%s.%N /tmp/check_hosts_tmp >"$CASE/plant.before"
  run_tool --as "$runner"
  [ "$(cat /tmp/victim)" = "${VICTIM_TEXT%?}" ] || fail "the victim's file changed"
  if grep -q 6.6.6.6 /etc/hosts; then fail "mallory's text became /etc/hosts"; fi
  [ "$(stat -c %U /etc/hosts)" != mallory ] || fail "/etc/hosts belongs to mallory"
  expect_run 0 "" repaired correct
  expect_hosts "$GOOD_HOSTS"
  ls -ld --time-style=+%s.%N /tmp/check_hosts_tmp >"$CASE/plant.after"
  same_files "mallory's entry" "$CASE/plant.before" "$CASE/plant.after"
}

for kind in file symlink fifo directory; do
  for who in root alice; do
    eval "planted_${kind}_run_by_$who() { runner=$who; attack $kind; }"
  done
done

# A second program of alice's, played by a stand-in for pkexec that acts just
# before the real one starts, while her prompt would be open: it swaps the
# old temporary path for a link to a root-only file or a FIFO, writes its
# own text there and makes it set-user-ID (with no hosts file, so that the
# repair creates one), or tries to change the staged text itself, which is
# the stand-in's standard input. Root installs exactly the program's text.
during_the_prompt() {  # during_the_prompt KIND
  give_hosts "$BROKEN_HOSTS"
  expected=$GOOD_HOSTS
  printf 'root only\n' >"$CASE/secret"
  chmod 600 "$CASE/secret"
  case $1 in
    link) act="ln -sf $CASE/secret /tmp/check_hosts_tmp" ;;
    fifo) act="rm -f /tmp/check_hosts_tmp; mkfifo /tmp/check_hosts_tmp" ;;
    setuid)
      rm /etc/hosts
      expected="$CANON
"
      act="cp /bin/sh /tmp/check_hosts_tmp; chmod 6755 /tmp/check_hosts_tmp /dev/stdin"
      ;;
    stdin)
      act="printf '6.6.6.6 local.tolvane.com\\n' 1<>/dev/stdin; printf x >>/dev/stdin"
      act="$act; truncate -s 0 /dev/stdin; chmod 6777 /dev/stdin"
      ;;
  esac
  run_tool --as alice --wrap "$(logged_pkexec "$act")"
  expect_run 0 "" repaired correct
  expect_hosts "$expected"
  [ "$(stat -c '%U:%G %a' /etc/hosts)" = "root:root 644" ] ||
    fail "/etc/hosts is $(stat -c '%U:%G %a' /etc/hosts)"
  [ "$(pkexec_calls)" -eq 1 ] || fail "pkexec ran $(pkexec_calls) times"
}
link_swapped_in_during_the_prompt() { during_the_prompt link; }
fifo_swapped_in_during_the_prompt() { during_the_prompt fifo; }
setuid_text_during_the_prompt() { during_the_prompt setuid; }
staged_text_changed_during_the_prompt() { during_the_prompt stdin; }

umask_077() {  # umask_077 USER
  give_hosts "$BROKEN_HOSTS"
  give_entry "$BROKEN_ENTRY"
  run_tool --as "$1" --wrap "$(wrapper umask-077 'umask 077')"
  expect_run 0 "" repaired repaired
  [ "$(stat -c %a /etc/hosts)" = 644 ] || fail "/etc/hosts has mode $(stat -c %a /etc/hosts)"
  [ "$(stat -c %a "$ENTRY")" = 644 ] || fail "the entry has mode $(stat -c %a "$ENTRY")"
  as_user mallory cat /etc/hosts "$ENTRY" >/dev/null || fail "others cannot read the repaired files"
}
umask_077_run_by_root() { umask_077 root; }
umask_077_run_by_alice() { umask_077 alice; }

# Whatever mallory leaves where a user's run lock lives when it has no
# private folder (a link, a directory, a FIFO, a file only she may read),
# alice's and root's runs still repair, at once.
lock_planted() {  # KIND USER
  give_hosts "$BROKEN_HOSTS"
  printf '%s' "$VICTIM_TEXT" >/tmp/victim
  lock=/tmp/checktool-$(id -u "$2").lock
  case $1 in
    link) as_user mallory ln -s /tmp/victim "$lock" ;;
    directory) as_user mallory mkdir -m 700 "$lock" ;;
    fifo) as_user mallory mkfifo -m 600 "$lock" ;;
    file) as_user mallory sh -c 'umask 077; : >"$1"' sh "$lock" ;;
  esac
  run_tool --as "$2"
  expect_run 0 "" repaired correct
  expect_hosts "$GOOD_HOSTS"
  [ "$(cat /tmp/victim)" = "${VICTIM_TEXT%?}" ] || fail "the victim's file changed"
}
for kind in link directory fifo file; do
  for who in root alice; do
    eval "lock_planted_as_a_${kind}_run_by_$who() { lock_planted $kind $who; }"
  done
done

# The report path is walked with every protection on, whatever the system
# sets: root's run follows no link of mallory's in the sticky /tmp, wherever
# on the path (a link to a folder, one hop of a chain), and writes into no
# file or FIFO of hers there; root's own link is followed, and so is a link
# in a folder that is not sticky.
report_through_a_link() {  # KIND
  printf 'root only\n' >/etc/victim
  chmod 600 /etc/victim
  report=/tmp/report.html
  case $1 in
    of_mallory) as_user mallory ln -s /etc/victim /tmp/report.html ;;
    of_the_caller) ln -s "$CASE/mine.html" /tmp/report.html ;;
    of_mallory_to_a_folder)
      as_user mallory sh -c 'mkdir /tmp/hers && ln -s /etc/victim /tmp/hers/report.html &&
        ln -s /tmp/hers /tmp/m2'
      report=/tmp/m2/report.html
      ;;
    to_etc) as_user mallory ln -s /etc /tmp/mdir && report=/tmp/mdir/r.html ;;
    chain) ln -s /tmp/hop /tmp/report.html && as_user mallory ln -s /etc/victim /tmp/hop ;;
    in_a_plain_folder)
      mkdir -m 777 "$CASE/dir"
      ln -s ../mine.html "$CASE/dir/report.html" && chown -h mallory "$CASE/dir/report.html"
      report=$CASE/dir/report.html
      ;;
    file) as_user mallory sh -c 'echo hers >/tmp/report.html && chmod 666 /tmp/report.html' ;;
    fifo)
      as_user mallory mkfifo -m 666 /tmp/report.html
      as_user mallory sh -c 'exec cat <>/tmp/report.html' >"$CASE/read" &
      wait_until 'reader=$(pgrep -u mallory -x cat) &&
        [ "$(readlink "/proc/$reader/fd/0")" = /tmp/report.html ]' || fail "no reader"
      ;;
  esac
  ls -l --time-style=+%s.%N /tmp >"$CASE/tmp.before"
  run_tool --report "$report"
  rm -f "$CASE/report.html"
  [ "$(cat /etc/victim)" = "root only" ] || fail "the victim changed"
  [ ! -e /etc/r.html ] || fail "/etc/r.html was made"
  case $1 in
    of_the_caller | in_a_plain_folder)
      cp "$CASE/mine.html" "$CASE/report.html"
      expect_run 0 "" correct correct
      ;;
    *)
      expect_run 255 "Can't write $report
" "" ""
      [ -z "${reader:-}" ] || kill "$reader"
      wait
      [ ! -s "$CASE/read" ] || fail "mallory's FIFO got the report"
      ls -l --time-style=+%s.%N /tmp >"$CASE/tmp.after"
      same_files "/tmp" "$CASE/tmp.before" "$CASE/tmp.after"
      ;;
  esac
  as_user mallory ln -s /etc/nowhere /tmp/dangling.html
  run_tool --report /tmp/dangling.html
  [ ! -e /etc/nowhere ] || fail "a file was made through the dangling link"
}

# Nothing another user holds delays anyone's run: mallory's lock on /etc
# (where runs once locked), and dave's own run left at its prompt. Root's
# and alice's runs repair within 2 s of their usual time; alice's repair
# ends dave's prompt, and his row says Success, since his file now holds
# the same repair.
lock_held_by_someone_else() {
  ms() { echo $(($(date +%s%N) / 1000000)); }
  give_hosts "$BROKEN_HOSTS"
  start=$(ms)
  run_tool --as alice --report /tmp/usual.html
  usual=$(($(ms) - start))
  give_hosts "$BROKEN_HOSTS"
  # /tmp/held: the process that holds the lock (flock's child), once it does
  as_user mallory sh -c 'exec flock /etc sh -c "echo \$\$ >/tmp/held.new; mv /tmp/held.new /tmp/held; exec sleep 100"' &
  wait_until '[ -s /tmp/held ]' || fail "mallory never held the lock"
  holder=$(cat /tmp/held)
  wrap=$(logged_pkexec 'exec env CHECKTOOL_STAND_IN=1 sleep 100')
  # shellcheck disable=SC2086
  as_user dave $wrap timeout 120 "$CHECKTOOL_BIN" --path /tmp/dave.html --lang en >/dev/null 2>&1 &
  dave=$!
  # dave's prompt is open: the stand-in itself runs
  wait_until 'stand_in_runs -u dave' || fail "dave's prompt never opened"
  for who in alice root; do
    start=$(ms)
    run_tool --as "$who" --report "/tmp/report-$who.html"
    took=$(($(ms) - start))
    expect_run 0 "" repaired correct
    expect_hosts "$GOOD_HOSTS"
    [ "$took" -le $((usual + 2000)) ] || fail "$who's run took ${took} ms, usually ${usual} ms"
    if [ "$who" = alice ]; then
      wait "$dave"
      grep -q "$(word 34)" /tmp/dave.html || fail "dave's row: $(cat /tmp/dave.html)"
      give_hosts "$BROKEN_HOSTS"
    fi
  done
  kill "$holder" 2>/dev/null
  none_left CHECKTOOL_STAND_IN
}

cases() {
  for kind in file symlink fifo directory; do
    for who in root alice; do
      run_case "planted_${kind}_run_by_$who" "planted_${kind}_run_by_$who"
    done
  done
  for name in link_swapped_in_during_the_prompt fifo_swapped_in_during_the_prompt \
    setuid_text_during_the_prompt staged_text_changed_during_the_prompt \
    umask_077_run_by_root umask_077_run_by_alice lock_held_by_someone_else; do
    run_case "$name" "$name"
  done
  for kind in of_mallory of_the_caller of_mallory_to_a_folder to_etc chain in_a_plain_folder; do
    run_case "report_through_a_link_$kind" "report_through_a_link $kind"
  done
  for kind in file fifo; do
    run_case "report_into_a_${kind}_of_mallory" "report_through_a_link $kind"
  done
  for kind in link directory fifo file; do
    for who in root alice; do
      run_case "lock_planted_as_a_${kind}_run_by_$who" "lock_planted_as_a_${kind}_run_by_$who"
    done
  done
}
