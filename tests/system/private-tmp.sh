# Sourced by the sandboxes of the tests, the demo and the benchmarks; runs as
# root inside a private mount namespace.
#
# private_tmp [PATH...]: mounts a fresh, empty tmpfs (mode 1777) on /tmp.
# Whatever of the PATHs lay under the old /tmp (a checkout there, with the
# program, the test helpers and the work folders in it) is mounted back at
# the same place: for each, the entry right below /tmp that holds it. So the
# sandbox's /tmp holds nothing of the machine's but what the tests need.
private_tmp() {
  kept=
  for path in "$@"; do
    path=$(readlink -f "$path") || continue
    case $path in
      /tmp/?*) ;;
      *) continue ;;
    esac
    rest=${path#/tmp/}
    top=${rest%%/*}
    [ -e "/tmp/$top" ] || continue
    case "
$kept
" in
      *"
$top
"*) ;;
      *) kept="$kept
$top" ;;
    esac
  done
  if [ -z "$kept" ]; then
    mount -t tmpfs -o mode=1777 tmpfs /tmp
    return
  fi
  # The old /tmp stays reachable below /mnt (a private tmpfs there) while
  # the new one is made, then only the kept entries remain.
  [ -d /mnt ] || mkdir /mnt
  mount -t tmpfs -o mode=755 tmpfs /mnt
  mkdir /mnt/old-tmp
  mount --bind /tmp /mnt/old-tmp
  mount -t tmpfs -o mode=1777 tmpfs /tmp
  printf '%s\n' "$kept" | while IFS= read -r top; do
    [ -n "$top" ] || continue
    if [ -d "/mnt/old-tmp/$top" ]; then
      mkdir "/tmp/$top"
    else
      : >"/tmp/$top"
    fi
    mount --bind "/mnt/old-tmp/$top" "/tmp/$top"
  done
  umount -l /mnt
}
