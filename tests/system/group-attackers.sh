# Attackers: mallory plants things in the shared /tmp before a run by root or
# by alice (who may use pkexec). Nothing may be written through a link, no
# victim file may change, nothing of mallory's may become a system file, and
# no run may hang.

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

attack() {  # attack KIND: a broken hosts file, mallory's plant, a run by $runner
  give_hosts "$BROKEN_HOSTS"
  plant "$1"
  run_tool --as "$runner"
  [ "$(cat /tmp/victim)" = "${VICTIM_TEXT%?}" ] || fail "the victim's file changed"
  if grep -q 6.6.6.6 /etc/hosts; then fail "mallory's text became /etc/hosts"; fi
  [ "$(stat -c %U /etc/hosts)" != mallory ] || fail "/etc/hosts belongs to mallory"
  if [ "$runner" = root ]; then
    # root may remove what mallory planted, and does, then repairs.
    expect_run 0 "" repaired correct
    expect_hosts "$GOOD_HOSTS"
  else
    # alice may not remove mallory's entry in the sticky /tmp: the repair fails.
    expect_run 0 "" failed correct
    expect_hosts "$BROKEN_HOSTS"
    [ "$(stat -c %U /tmp/check_hosts_tmp)" = mallory ] || fail "mallory's entry was replaced"
  fi
}

for kind in file symlink fifo directory; do
  for who in root alice; do
    eval "planted_${kind}_run_by_$who() { runner=$who; attack $kind; }"
  done
done

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

lock_planted_as_a_link() {
  give_hosts "$BROKEN_HOSTS"
  printf '%s' "$VICTIM_TEXT" >/tmp/victim
  as_user mallory ln -s /tmp/victim /tmp/check_hosts_tmp.lock
  run_tool --as alice
  expect_run 0 "" failed correct
  expect_hosts "$BROKEN_HOSTS"
  [ "$(cat /tmp/victim)" = "${VICTIM_TEXT%?}" ] || fail "the victim's file changed"
}

lock_held_by_someone_else() {
  give_hosts "$BROKEN_HOSTS"
  as_user mallory sh -c 'exec flock /tmp/check_hosts_tmp.lock sleep 100' &
  holder=$!
  sleep 1
  start=$(date +%s)
  run_tool --as alice
  took=$(($(date +%s) - start))
  kill "$holder" 2>/dev/null
  expect_run 0 "" failed correct
  expect_hosts "$BROKEN_HOSTS"
  [ "$took" -ge 55 ] && [ "$took" -le 90 ] || fail "the run waited ${took}s, not about 60"
}

cases() {
  for kind in file symlink fifo directory; do
    for who in root alice; do
      run_case "planted_${kind}_run_by_$who" "planted_${kind}_run_by_$who"
    done
  done
  for name in umask_077_run_by_root umask_077_run_by_alice lock_planted_as_a_link \
    lock_held_by_someone_else; do
    run_case "$name" "$name"
  done
}
