#!/bin/sh
# Benchmarks: the whole program against wc -l and grep -c -F on generated
# blocklist hosts files of 100,000, 1,000,000 and 10,000,000 lines, with peak
# memory; then the hosts check alone (Google Benchmark). Everything that
# touches /etc runs in a private mount namespace, as root. With BASELINE_BIN
# naming the program of an earlier commit, that one is timed beside it, in
# the same run, on the same files.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh cmake g++ make libpugixml-dev libglib2.0-dev pkg-config libbenchmark-dev hyperfine time util-linux mount valgrind
cmake --preset bench >/dev/null
cmake --build --preset bench >/dev/null
data=$(pwd)/build/bench/data
mkdir -p "$data"
for lines in 100000 1000000 10000000; do
  [ -s "$data/hosts-$lines" ] || sh bench/gen-hosts.sh "$lines" >"$data/hosts-$lines"
done
[ -s "$data/hosts-broken" ] || sh bench/gen-hosts.sh 1000000 broken >"$data/hosts-broken"
echo "Measured on commit $(git rev-parse --short HEAD 2>/dev/null || echo unknown), $(nproc) cores"
exec unshare --mount --propagation private sh bench/sandboxed.sh "$(pwd)" "$data" "${BASELINE_BIN:-}"
