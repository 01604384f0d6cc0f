#!/bin/sh
# Builds and runs every test: once optimised with warnings as errors (and
# checks that they still catch the canary slips of tests/canaries), once
# under AddressSanitizer and UndefinedBehaviorSanitizer; the command-line
# tests under valgrind; clang-tidy; each fuzz target for 5 seconds; and the
# Debian package, built, linted, installed, tested and removed; and the demo
# and a group of whole-program tests from a checkout under /tmp.
# Tests that run the whole program do so in a private mount namespace (with
# the real pkexec and a system bus and polkitd of their own) and are skipped,
# not passed, where that is not possible.
set -eu
cd "$(dirname "$0")/.."
as_root=
if [ "$(id -u)" -ne 0 ]; then
  as_root=sudo
  echo "Not root: packages and the package test go through sudo; the whole-program tests are skipped."
fi
sh scripts/install-deps.sh cmake g++ make libpugixml-dev libglib2.0-dev pkg-config libgtest-dev util-linux mount passwd man-db \
  pkexec polkitd dbus-daemon dbus-system-bus-common acl libglib2.0-bin desktop-file-utils \
  chromium fonts-wqy-microhei dpkg-dev lintian \
  clang-14 libclang-rt-14-dev clang-tidy-14 valgrind
started=$(date +%s)
step() { echo "== $1 (at $(($(date +%s) - started)) s)"; }
step "optimised build and tests"
cmake --workflow --preset ci
# Canary slips (tests/canaries): each planted alone into the optimised build,
# which is then built back; the tests each names must catch it.
step "canary slips"
if [ -n "$as_root" ]; then
  echo "canary slips: skipped (needs root)"
else
  sh scripts/mutate.sh --canaries tests/canaries --preset ci --build-dir build/ci
fi
step "ASan and UBSan build and tests"
cmake --workflow --preset asan
step "valgrind"

# The program's command-line tests once more, with the program under valgrind.
CHECKTOOL_REAL_BIN=$(pwd)/build/ci/checktool/checktool CHECKTOOL_BIN=$(pwd)/scripts/valgrind-checktool.sh \
  build/ci/checktool/tests/checktool_test --gtest_filter='CommandLineTest.*'

# Static analysis: no finding may be left (.clang-tidy lists the checks).
# The files in parallel, one progress line each.
tidy() {  # tidy BUILD-DIR FILE-REGEX LOG
  { run-clang-tidy-14 -quiet -p "$1" -j "$(nproc)" "$2" 2>&1 || echo "clang-tidy failed" >"$3.failed"; } |
    tee "$3" | awk '/^clang-tidy-14 / { n++; printf "clang-tidy %d: %s\n", n, $NF; fflush() }'
  if [ -e "$3.failed" ] || grep -q -E 'error:|warning:' "$3"; then
    rm -f "$3.failed"
    grep -E 'error:|warning:' "$3"
    exit 1
  fi
}
rm -f build/clang-tidy.log.failed build/clang-tidy-fuzz.log.failed
step "clang-tidy"
tidy build/ci "^$(pwd)/(common|checkers|checktool|testsupport|tests)/.*\.cpp\$" build/clang-tidy.log
echo "clang-tidy: no findings"

# Every fuzz target for 5 seconds, a smoke test of targets and seeds
# (longer runs: sh scripts/fuzz.sh 300); any finding fails. Then their
# code, too, through clang-tidy.
step "fuzzing"
sh scripts/fuzz.sh 5
tidy build/fuzz "^$(pwd)/fuzz/.*\.cpp\$" build/clang-tidy-fuzz.log

# A checkout under /tmp, where many first clone to (the sandboxes mount a
# /tmp of their own): the demo, and the fault cases with the program and
# the launch helper there too (the cases that start processes of their
# own, where a checkout under /tmp matters).
step "a checkout under /tmp"
if [ -n "$as_root" ]; then
  echo "a checkout under /tmp: skipped (needs root)"
else
clone=$(mktemp -d /tmp/checktool-clone.XXXXXX)
tar --exclude=./build --exclude=./.git -cf - . | tar -C "$clone" -xf -
cp build/ci/testsupport/launch "$clone/launch"
if ! (cd "$clone" && sh scripts/demo.sh >demo.log 2>&1 && tail -n 1 demo.log &&
  CHECKTOOL_BIN=$clone/build/release/checktool/checktool SYSTEST_LAUNCH=$clone/launch \
    SYSTEST_WORK=$clone/build/faults HOSTS_DATA_DIR=/nonexistent \
    SYSTEST_ONLY="authorised_user hosts_missing descriptors_of_the_command ctrl_c_during_the_first_repair sigterm_to_the_group_during_the_copy report_into_a_fifo password_typed_on_a_terminal" \
    sh tests/system/run-group.sh faults >faults.log 2>&1 && tail -n 1 faults.log); then
  cat "$clone/demo.log" "$clone/faults.log" 2>/dev/null
  exit 1
fi
echo "a checkout under /tmp: passed"
rm -rf "$clone"
fi

# The Debian package: built, checked by lintian (errors fail), installed on
# this machine, its installed program put through the command-line tests
# and the fault cases, and removed again.
step "the package"
sh scripts/package.sh >build/package.log 2>&1 || { cat build/package.log; exit 1; }
grep -E '^(E|W|I):' build/package.log || true
# Built again seconds later, it is the same bit for bit (the program itself
# comes out the same from any clone; what differed was the package's
# timestamps).
cp build/release/tolvane-checktool_*.deb build/first.deb
sleep 1
sh scripts/package.sh >build/package-again.log 2>&1 || { cat build/package-again.log; exit 1; }
cmp build/first.deb build/release/tolvane-checktool_*.deb || { echo "the package differs when built again"; exit 1; }
echo "package: the same when built twice"
if dpkg-query -W -f='${Status}' tolvane-checktool 2>/dev/null | grep -q "install ok installed"; then
  echo "tolvane-checktool is already installed here: not testing the package over it"
else
  $as_root dpkg -i build/release/tolvane-checktool_*.deb >/dev/null
  status=0
  installed=/usr/libexec/tolvane/checktool
  CHECKTOOL_BIN=$installed build/ci/checktool/tests/checktool_test --gtest_filter='CommandLineTest.*' \
    || status=1
  CHECKTOOL_BIN=$installed SYSTEST_LAUNCH=$(pwd)/build/ci/testsupport/launch \
    SYSTEST_WORK=$(pwd)/build/ci/tests/system/work/installed \
    HOSTS_DATA_DIR=$(pwd)/tests/data/hosts sh tests/system/run-group.sh faults || {
    [ $? -eq 77 ] || status=1
  }
  MANWIDTH=80 man --warnings -l /usr/share/man/man1/checktool.1.gz >/dev/null 2>build/man.log
  [ ! -s build/man.log ] || { cat build/man.log; status=1; }
  $as_root dpkg -r tolvane-checktool >/dev/null
  [ "$status" -eq 0 ] || exit 1
  echo "installed package: passed"
fi
step "all passed"
