# Concurrency: several runs at once, with a pkexec that takes its time. The
# runs must take turns: each target ends up exactly corrected, repaired once.

ROUNDS=3
RUNS=4

concurrent_runs() {  # concurrent_runs USER [ENVIRONMENT-OF-RUN-1 ...]
  user=$1
  shift
  slow_pkexec=$(logged_pkexec 'sleep 0.5')
  round=1
  while [ "$round" -le "$ROUNDS" ]; do
    give_hosts "$BROKEN_HOSTS"
    give_entry "$BROKEN_ENTRY"
    : >"$CASE/pkexec.log"
    i=1
    for environment in "$@" "" "" "" ""; do
      [ "$i" -le "$RUNS" ] || break
      # shellcheck disable=SC2086
      as_user "$user" $slow_pkexec env $environment timeout 120 "$CHECKTOOL_BIN" \
        --path "/tmp/report-$i.html" --lang en >"$CASE/stdout-$i" 2>&1 &
      [ "$i" -ne 1 ] || eval "${AFTER_FIRST_RUN:-}"
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

# Runs of one user meet at one lock whatever their environments name (su
# keeps another user's XDG_RUNTIME_DIR, cron sets none), and whether or not
# the uid's runtime folder was there when each started (here it comes once
# the first run asks): never in another uid's folder.
runs_by_alice_in_other_environments() {
  own=/run/user/$(id -u alice) other=/run/user/$(id -u bob)
  mkdir -m 700 "$other"
  chown bob: "$other"
  AFTER_FIRST_RUN='[ -d "$own" ] || { wait_until "[ -s \"$CASE/pkexec.log\" ]"; mkdir -m 700 "$own"; chown alice: "$own"; }'
  concurrent_runs alice "XDG_RUNTIME_DIR=$own" "XDG_RUNTIME_DIR=$other HOME=/tmp" \
    "TMPDIR=/var/tmp XDG_RUNTIME_DIR=/tmp"
  AFTER_FIRST_RUN=
  [ -f "$own/checktool.lock" ] || fail "no lock in alice's runtime folder"
  [ -z "$(ls -A "$other")" ] || fail "bob's runtime folder was used: $(ls -A "$other")"
  rm -rf "$own" "$other"
}

cases() {
  run_case runs_by_root runs_by_root
  run_case runs_by_alice runs_by_alice
  run_case runs_by_alice_in_other_environments runs_by_alice_in_other_environments
}
