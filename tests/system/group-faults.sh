# Faults: what cannot be read, written, authorised or found.

full_tmp() {
  give_hosts "$BROKEN_HOSTS"
  umount /tmp
  mount -t tmpfs -o size=16k,mode=1777 tmpfs /tmp
  dd if=/dev/zero of=/tmp/fill bs=4k 2>/dev/null
  run_tool --report "$CASE/r.html"
  cp "$CASE/r.html" "$CASE/report.html" 2>/dev/null
  expect_run 0 "" failed correct
  expect_hosts "$BROKEN_HOSTS"
  [ ! -e /tmp/check_hosts_tmp ] || fail "an incomplete temporary file was left"
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
  ls -A /tmp | grep -v -x -e report.html -e check_hosts_tmp.lock >"$CASE/tmp.after"
  same "what /tmp holds" "$(cat "$CASE/tmp.before")" "$CASE/tmp.after"
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

authorisation_refused() {
  give_hosts "$BROKEN_HOSTS"
  give_entry "$BROKEN_ENTRY"
  run_tool --as bob
  expect_run 0 "" failed failed
  expect_hosts "$BROKEN_HOSTS"
  expect_entry "$BROKEN_ENTRY"
  no_repair_file_left
}

authorised_user() {
  give_hosts "$BROKEN_HOSTS"
  give_entry "$BROKEN_ENTRY"
  run_tool --as alice --lang cs
  [ "$(cat "$CASE/status")" = 0 ] || fail "status $(cat "$CASE/status")"
  grep -q '成功' "$CASE/report.html" || fail "no repair reported in Chinese"
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

# A Ctrl-C while the first repair's command runs: no second command, the
# report says what failed, and the program ends by SIGINT.
interrupted_during_the_first_repair() {
  give_hosts "$BROKEN_HOSTS"
  give_entry "$BROKEN_ENTRY"
  wrap=$(logged_pkexec 'touch /tmp/pkexec-started; sleep 60')
  run_tool --as alice --wrap "$wrap $SYSTEST_LAUNCH --group --pidfile /tmp/pid --outcome /tmp/outcome --" &
  runner=$!
  wait_until '[ -e /tmp/pkexec-started ]'
  kill -INT "-$(cat /tmp/pid)"
  wait "$runner"
  expect_run 130 "" failed failed
  [ "$(cat /tmp/outcome 2>/dev/null)" = "signal 2" ] ||
    fail "the program ended with $(cat /tmp/outcome 2>/dev/null), not by SIGINT"
  [ "$(pkexec_calls)" -eq 1 ] || fail "pkexec ran $(pkexec_calls) times: $(cat "$CASE/pkexec.log")"
  expect_hosts "$BROKEN_HOSTS"
  expect_entry "$BROKEN_ENTRY"
  no_repair_file_left
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
# not survive exec, hence the launch helper). The run lock is held at first,
# so that the program waits at its start, where its signal dispositions are
# read and kept in $CASE/sigign.
run_with_sigchld_ignored() {
  flock /tmp/check_hosts_tmp.lock sh -c \
    'touch /tmp/lock-held; while [ ! -e /tmp/lock-release ]; do sleep 0.05; done' &
  holder=$!
  wait_until '[ -e /tmp/lock-held ]'
  run_tool "$@" --wrap "$SYSTEST_LAUNCH --ignore-sigchld --pidfile /tmp/pid --" &
  runner=$!
  program=$(readlink -f "$CHECKTOOL_BIN")
  wait_until '[ -s /tmp/pid ] && [ "$(readlink "/proc/$(cat /tmp/pid)/exe")" = "$program" ]'
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
    entry_missing authorisation_refused authorised_user no_pkexec_on_path report_on_dev_full \
    report_in_a_missing_directory sigchld_ignored_by_the_parent sigchld_ignored_and_refused \
    repair_keeps_mode_0644 repair_keeps_mode_0640_and_group bind_mounted_hosts_file \
    hosts_missing_created_for_a_user_with_umask_077 hosts_is_a_link hosts_is_a_dangling_link \
    planted_cp_on_the_users_path pkexec_in_the_working_directory \
    interrupted_during_the_first_repair; do
    run_case "$name" "$name"
  done
}
