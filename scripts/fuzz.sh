#!/bin/sh
# Builds the libFuzzer targets (clang, with ASan and UBSan) and runs each for
# SECONDS (default 60) from the seed corpus in fuzz/corpus, working on a copy
# so the seeds stay as they are. Any finding fails; the last statistics line
# of each target (executions per second, coverage) is printed.
# usage: fuzz.sh [SECONDS]
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-60}
sh scripts/install-deps.sh cmake make libpugixml-dev clang-14 libclang-rt-14-dev libglib2.0-dev pkg-config
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz >/dev/null
status=0
for pair in hosts_fuzz:hosts desktop_entry_fuzz:desktop config_fuzz:config; do
  target=${pair%%:*}
  seeds=${pair#*:}
  work=build/fuzz/run/$target
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/artifacts"
  cp fuzz/corpus/"$seeds"/* "$work/corpus/"
  if "build/fuzz/fuzz/$target" "$work/corpus" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$work/artifacts/" -timeout=10 -rss_limit_mb=2048 >"$work/log" 2>&1; then
    line=$(grep 'DONE' "$work/log" | tail -n 1 | tr -s ' \t' ' ')
    rate=$(grep -E '^stat::average_exec_per_sec' "$work/log" | awk '{print $2}')
    echo "$target: no findings in ${seconds}s; $line; $rate exec/s"
  else
    status=1
    echo "$target: FINDING"
    tail -n 40 "$work/log"
    ls "$work/artifacts"
  fi
done
exit "$status"
