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
  # command,mean,stddev,median,user,system,min,max
  awk -F, -v label="$label" 'NR == 2 { printf "%s %.2f %.2f %.2f %.2f\n", label, $2 * 1000, $3 * 1000, $4 * 1000, $7 * 1000 }' \
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
# Every case is run 25 times after 2 warm-up runs (the page cache warm); the
# fastest run is the least disturbed by whatever else the machine does.
measure "small-file:checktool" 25 "" $run
[ -z "$baseline" ] || measure "small-file:baseline" 25 "" "$baseline" --path /tmp/report.html --lang en
measure "small-file:wc-l" 25 "" wc -l /etc/hosts
measure "small-file:sh-c-true" 25 "" /bin/sh -c true

for lines in 100000 1000000 10000000; do
  runs=25
  cp "$data/hosts-$lines" /etc/hosts
  measure "$lines:checktool" "$runs" "" $run
  [ -z "$baseline" ] || measure "$lines:baseline" "$runs" "" "$baseline" --path /tmp/report.html --lang en
  measure "$lines:wc-l" "$runs" "" wc -l /etc/hosts
  measure "$lines:grep-c-F" "$runs" "" grep -c -F local.tolvane.com /etc/hosts
  peak "$lines"
done
measure "1000000:checktool-repair" 25 "cp $data/hosts-broken /etc/hosts" $run
[ -z "$baseline" ] ||
  measure "1000000:baseline-repair" 25 "cp $data/hosts-broken /etc/hosts" "$baseline" \
    --path /tmp/report.html --lang en

# The instructions of a whole run on the largest file, which the machine's
# load does not change.
: >/tmp/instructions
instructions() {  # label program
  valgrind --tool=callgrind --callgrind-out-file=/tmp/callgrind.out "$2" --path /tmp/report.html --lang en 2>&1 |
    awk -v l="$1" '/Collected :/ { printf "10000000 lines, %s: %.1f million instructions (callgrind)\n", l, $NF / 1e6 }' \
      >>/tmp/instructions
}
if command -v valgrind >/dev/null; then
  cp "$data/hosts-10000000" /etc/hosts
  instructions checktool "$bin"
  [ -z "$baseline" ] || instructions baseline "$baseline"
fi

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
echo "Whole program (ms, 25 runs; the ratios of the fastest runs and of the medians to those of"
echo "wc -l on the same file, and for the small file to those of /bin/sh -c true)"
awk '
  { mean[$1] = $2; sd[$1] = $3; median[$1] = $4; min[$1] = $5; order[++n] = $1 }
  function ratio(a, b) { return (b > 0) ? sprintf("%.2f", a / b) : "-" }
  END {
    printf "%-28s %8s %7s %8s %8s %9s %9s %9s %9s\n", "case", "mean", "sd", "median", "min",
      "min x wc", "med x wc", "min x sh", "med x sh"
    for (i = 1; i <= n; i++) {
      c = order[i]
      split(c, k, ":")
      wc = k[1] ":wc-l"
      sh = k[1] ":sh-c-true"
      printf "%-28s %8.2f %7.2f %8.2f %8.2f %9s %9s %9s %9s\n", c, mean[c], sd[c], median[c], min[c],
        ratio(min[c], min[wc]), ratio(median[c], median[wc]),
        (sh in min) ? ratio(min[c], min[sh]) : "", (sh in min) ? ratio(median[c], median[sh]) : ""
    }
    c1 = min["1000000:checktool"]; c10 = min["10000000:checktool"]; c01 = min["100000:checktool"]
    if (c1 > 0 && c10 > 0) printf "\nScaling (fastest runs): 10x the lines (1M -> 10M) costs %.2fx the time; (100k -> 1M) %.2fx\n", c10 / c1, c1 / c01
  }' "$table"
echo
cat /tmp/instructions
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
