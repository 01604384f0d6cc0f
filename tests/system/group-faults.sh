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
  run_tool
  expect_run 0 "" internal correct
  [ "$(cat /etc/hosts/inside)" = keep ] || fail "the directory was changed"
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
}

no_pkexec_on_path() {
  give_hosts "$BROKEN_HOSTS"
  give_entry "$BROKEN_ENTRY"
  run_tool --wrap "env PATH=/nonexistent"
  expect_run 0 "" failed failed
  expect_hosts "$BROKEN_HOSTS"
  expect_entry "$BROKEN_ENTRY"
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

# A parent that ignores SIGCHLD passes that on to the program.
ignoring_sigchld() { wrapper ignore-sigchld 'trap "" CHLD'; }

sigchld_ignored_by_the_parent() {
  give_hosts "$BROKEN_HOSTS"
  give_entry "$BROKEN_ENTRY"
  run_tool --wrap "$(ignoring_sigchld)"
  expect_run 0 "" repaired repaired
  expect_hosts "$GOOD_HOSTS"
  expect_entry "$GOOD_ENTRY"
}

sigchld_ignored_and_refused() {
  give_hosts "$BROKEN_HOSTS"
  run_tool --as bob --wrap "$(ignoring_sigchld)"
  expect_run 0 "" failed correct
  expect_hosts "$BROKEN_HOSTS"
}

cases() {
  for name in full_tmp hosts_is_a_directory hosts_unreadable_for_the_user hosts_missing \
    entry_missing authorisation_refused authorised_user no_pkexec_on_path report_on_dev_full \
    report_in_a_missing_directory sigchld_ignored_by_the_parent sigchld_ignored_and_refused; do
    run_case "$name" "$name"
  done
}
