# The demo: one broken hosts file and desktop entry, one run as root with the
# real pkexec, the repaired files as a diff, and the report.

demo() {
  give_hosts "$BROKEN_HOSTS"
  give_entry "$BROKEN_ENTRY"
  cp /etc/hosts "$CASE/hosts.before"
  cp "$ENTRY" "$CASE/entry.before"
  echo "== /etc/hosts before (inside the sandbox)"
  cat /etc/hosts
  echo "== $ENTRY before"
  cat "$ENTRY"
  echo "== running: checktool --path /tmp/report.html --lang en"
  run_tool
  echo "exit status $(cat "$CASE/status"), standard output: '$(cat "$CASE/stdout")'"
  echo "== what the run changed"
  diff -u --label /etc/hosts.before --label /etc/hosts "$CASE/hosts.before" /etc/hosts
  diff -u --label "$ENTRY.before" --label "$ENTRY" "$CASE/entry.before" "$ENTRY"
  echo "== the report"
  cat "$CASE/report.html"
  expect_run 0 "" repaired repaired
}

cases() {
  # A failure prints the case's log already.
  if run_case demo demo >"$SYSTEST_WORK/outcome"; then
    cat "$SYSTEST_WORK/cases/demo/log"
  fi
  cat "$SYSTEST_WORK/outcome"
}
