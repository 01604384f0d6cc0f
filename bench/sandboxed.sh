#!/bin/sh
# Runs inside the private mount namespace set up by bench/run.sh.
set -eu
top=$1
data=$2
baseline=${3:-}
bin=$top/build/bench/checktool/checktool
. "$top/tests/system/private-tmp.sh"
private_tmp "$top" "$data" "$baseline"
rm -rf "$data/ov"
mkdir -p "$data/ov/etc-up" "$data/ov/etc-work" "$data/ov/share-up" "$data/ov/share-work" "$data/bin"
mount -t overlay overlay -o "lowerdir=/etc,upperdir=$data/ov/etc-up,workdir=$data/ov/etc-work" /etc
mount -t overlay overlay -o "lowerdir=/usr/share,upperdir=$data/ov/share-up,workdir=$data/ov/share-work" /usr/share
mkdir -p /usr/share/applications
printf '[Desktop Entry]\nType=Application\nName=Tolvane\nExec=tolvane %%u\n' \
  >/usr/share/applications/tolvane-url.desktop
# pkexec as root would not ask: a stand-in that runs the command as given
# (here, /etc and /usr/share are private copies), whichever form it has.
printf '#!/bin/sh\nexec "$@"\n' >"$data/bin/pkexec"
chmod 755 "$data/bin/pkexec"
export PATH="$data/bin:$PATH"

run="$bin --path /tmp/report.html --lang en"
table=/tmp/table
: >"$table"
measure() {  # label runs prepare command...
  label=$1 runs=$2 prepare=$3
  shift 3
  if [ -n "$prepare" ]; then
    hyperfine -N --style none --warmup 2 --runs "$runs" --prepare "$prepare" --export-csv /tmp/h.csv "$*" >/dev/null
  else
    hyperfine -N --style none --warmup 2 --runs "$runs" --export-csv /tmp/h.csv "$*" >/dev/null
  fi
  awk -F, -v label="$label" 'NR == 2 { printf "%s %.2f %.2f %.2f\n", label, $2 * 1000, $3 * 1000, $4 * 1000 }' \
    /tmp/h.csv >>"$table"
}
peak() {  # label
  kb=$(/usr/bin/time -f %M $run 2>&1 >/dev/null | tail -n 1)
  size=$(stat -c %s /etc/hosts)
  awk -v l="$1" -v kb="$kb" -v s="$size" 'BEGIN { printf "%s %.1f MB, %.2f x file (%.1f MB)\n", l, kb / 1024, kb * 1024 / s, s / 1048576 }' >>/tmp/peak
}
: >/tmp/peak

cp /usr/share/base-files/hosts /etc/hosts 2>/dev/null || printf '127.0.0.1 localhost\n' >/etc/hosts
echo "127.0.0.1 local.tolvane.com" >>/etc/hosts
measure "small-file:checktool" 50 "" $run
[ -z "$baseline" ] || measure "small-file:baseline" 50 "" "$baseline" --path /tmp/report.html --lang en
measure "small-file:wc-l" 50 "" wc -l /etc/hosts

for lines in 100000 1000000 10000000; do
  runs=20
  [ "$lines" -lt 10000000 ] || runs=10
  cp "$data/hosts-$lines" /etc/hosts
  measure "$lines:checktool" "$runs" "" $run
  [ -z "$baseline" ] || measure "$lines:baseline" "$runs" "" "$baseline" --path /tmp/report.html --lang en
  measure "$lines:wc-l" "$runs" "" wc -l /etc/hosts
  measure "$lines:grep-c-F" "$runs" "" grep -c -F local.tolvane.com /etc/hosts
  peak "$lines"
done
measure "1000000:checktool-repair" 10 "cp $data/hosts-broken /etc/hosts" $run
[ -z "$baseline" ] ||
  measure "1000000:baseline-repair" 10 "cp $data/hosts-broken /etc/hosts" "$baseline" \
    --path /tmp/report.html --lang en

# One line of 1 GiB in a correct file: a blocklist-like line without the
# domain after the entry, and the entry itself followed by 1 GiB of blanks.
# Then the same entry with a 1 GiB alias after it, which a repair rewrites.
long_line() {  # name first-bytes filler
  [ -s "$data/$1" ] || { printf "$2"; head -c 1073741824 /dev/zero | tr '\0' "$3"; } >"$data/$1"
  cp "$data/$1" /etc/hosts
  /usr/bin/time -f "$1 %e s, %M KB max RSS" $run 2>>/tmp/long
  grep -q -e Success -e Correct /tmp/report.html || echo "$1: no Correct or Success" >>/tmp/long
}
: >/tmp/long
long_line one-line-without-the-domain '127.0.0.1 local.tolvane.com\n0.0.0.0 ' x
long_line one-line-entry-and-blanks '127.0.0.1 local.tolvane.com' ' '
long_line one-line-alias-to-repair '127.0.0.1 local.tolvane.com ' x
rm -f "$data"/one-line-*

echo
echo "Whole program (ms; ratios of medians to wc -l on the same file)"
awk '
  { mean[$1] = $2; sd[$1] = $3; median[$1] = $4; order[++n] = $1 }
  END {
    printf "%-28s %9s %8s %9s %8s\n", "case", "mean", "sd", "median", "x wc -l"
    for (i = 1; i <= n; i++) {
      split(order[i], k, ":")
      wc = median[k[1] ":wc-l"]
      ratio = (wc > 0) ? sprintf("%.2f", median[order[i]] / wc) : "-"
      printf "%-28s %9.2f %8.2f %9.2f %8s\n", order[i], mean[order[i]], sd[order[i]], median[order[i]], ratio
    }
    c1 = median["1000000:checktool"]; c10 = median["10000000:checktool"]; c01 = median["100000:checktool"]
    if (c1 > 0 && c10 > 0) printf "\nScaling (medians): 10x the lines (1M -> 10M) costs %.2fx the time; (100k -> 1M) %.2fx\n", c10 / c1, c1 / c01
  }' "$table"
echo
echo "Peak memory of the whole program (max RSS)"
cat /tmp/peak
echo
echo "One line of 1 GiB"
cat /tmp/long
echo
echo "Hosts check alone (Google Benchmark), 1,000,000 lines"
cp "$data/hosts-1000000" /etc/hosts
HOSTS_BENCH_FILE=/etc/hosts "$top/build/bench/bench/hosts_check_bench" --benchmark_min_time=1 2>&1 | grep -E "^BM_|^Benchmark|^-"
