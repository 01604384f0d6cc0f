# Concurrency: several runs at once, with a pkexec that takes its time. The
# runs must take turns: each target ends up exactly corrected, repaired once.

ROUNDS=3
RUNS=4

concurrent_runs() {  # concurrent_runs USER
  slow_pkexec=$(logged_pkexec 'sleep 0.5')
  round=1
  while [ "$round" -le "$ROUNDS" ]; do
    give_hosts "$BROKEN_HOSTS"
    give_entry "$BROKEN_ENTRY"
    : >"$CASE/pkexec.log"
    i=1
    while [ "$i" -le "$RUNS" ]; do
      # shellcheck disable=SC2086
      as_user "$1" $slow_pkexec timeout 120 "$CHECKTOOL_BIN" --path "/tmp/report-$i.html" --lang en \
        >"$CASE/stdout-$i" 2>&1 &
      i=$((i + 1))
    done
    wait
    echo 0 >"$CASE/status"
    expect_hosts "$GOOD_HOSTS"
    expect_entry "$GOOD_ENTRY"
    successes=$(cat /tmp/report-*.html | grep -c "$(word 34)")
    reports=$(ls /tmp/report-*.html | wc -l)
    copies=$(pkexec_calls)
    [ "$reports" -eq "$RUNS" ] || fail "round $round: $reports reports"
    [ "$successes" -eq 2 ] || fail "round $round: $successes repairs reported, expected 2"
    [ "$copies" -eq 2 ] || fail "round $round: pkexec ran $copies times, expected 2"
    if grep -l "$(word 35)" /tmp/report-*.html; then fail "round $round: a repair failed"; fi
    rm -f /tmp/report-*.html
    round=$((round + 1))
  done
}

runs_by_root() { concurrent_runs root; }
runs_by_alice() { concurrent_runs alice; }

cases() {
  run_case runs_by_root runs_by_root
  run_case runs_by_alice runs_by_alice
}
