#!/bin/sh
# Records, or checks against a record, the state of the machine's own files
# that the program would change if a test ever escaped its sandbox.
# usage: machine-files.sh save|check RECORD
set -u
state() {
  for f in /etc/hosts /etc/passwd /etc/group /usr/share/applications /etc/polkit-1 \
    /tmp/check_hosts_tmp; do
    if [ -d "$f" ]; then
      find "$f" -xdev -type f -print0 2>/dev/null | sort -z | xargs -0 -r sha256sum 2>/dev/null
      find "$f" -xdev -printf '%p %m %u\n' 2>/dev/null | sort
    elif [ -e "$f" ] || [ -L "$f" ]; then
      sha256sum "$f" 2>/dev/null || echo "$f unreadable"
      stat -c '%n %a %U %s' "$f"
    else
      echo "$f absent"
    fi
  done
}
case $1 in
  save)
    mkdir -p "$(dirname "$2")"
    state >"$2"
    echo "recorded $(wc -l <"$2") lines of machine state"
    ;;
  check)
    if state | diff "$2" -; then
      echo "1 passed, 0 failed: the machine's own files are as they were"
    else
      echo "0 passed, 1 failed: the machine's own files changed during the tests"
      exit 1
    fi
    ;;
esac
