#!/bin/sh
# What watching a file costs while a prompt is open: the program, run as a
# user, repairs a hosts file of SIZE MB (default 300) through a stand-in for
# pkexec that keeps its "prompt" open for SECONDS (default 10) and then
# refuses. The stand-in reads the program's CPU time and the bytes it has
# read (/proc/PID/stat, /proc/PID/io) when it starts and when it ends.
# Runs as root in a private mount namespace: the hosts file and /tmp there
# are private copies.
#   sh bench/prompt-cost.sh [SIZE-MB] [SECONDS]
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
bin=${CHECKTOOL_BIN:-$top/build/ci/checktool/checktool}
size=${1:-300} seconds=${2:-10}
if [ "${PROMPT_COST_INSIDE:-}" != 1 ]; then
  exec env PROMPT_COST_INSIDE=1 unshare -m --propagation private sh "$0" "$@"
fi
mount -t tmpfs -o mode=1777 tmpfs /tmp
mkdir -m 755 /tmp/bin
awk -v n="$((size * 1024 * 1024 / 31))" 'BEGIN { for (i = 0; i < n; i++) printf "0.0.0.0 h%013d.example\n", i;
  print "10.0.0.1 local.tolvane.com" }' >/tmp/hosts
chmod 644 /tmp/hosts
mount --bind /tmp/hosts /etc/hosts
cat >/tmp/bin/pkexec <<STANDIN
#!/bin/sh
look() { echo "\$(date +%s%N) \$(awk '{ print \$14 + \$15 }' /proc/\$PPID/stat) \$(awk '/^rchar/ { print \$2 }' /proc/\$PPID/io)"; }
look >/tmp/at-start
sleep $seconds
look >/tmp/at-end
exit 126
STANDIN
chmod 755 /tmp/bin/pkexec
setpriv --reuid=nobody --regid=nogroup --clear-groups env PATH="/tmp/bin:$PATH" \
  "$bin" --path /tmp/report.html --lang en
read -r t0 c0 r0 </tmp/at-start
read -r t1 c1 r1 </tmp/at-end
awk -v t="$((t1 - t0))" -v c="$((c1 - c0))" -v r="$((r1 - r0))" -v hz="$(getconf CLK_TCK)" \
  -v bytes="$(stat -c %s /etc/hosts)" 'BEGIN {
  s = t / 1e9; cpu = c / hz
  printf "%.0f MB: %.2f s of CPU in %.1f s with the prompt open (%.1f %% of one core); %.1f readings of the file, one every %.2f s\n",
    bytes / 1048576, cpu, s, 100 * cpu / s, r / bytes, (r > 0 ? s * bytes / r : 0) }'
