#!/bin/sh
# Builds and runs every test: once optimised with warnings as errors, once
# under AddressSanitizer and UndefinedBehaviorSanitizer. Tests that run the
# whole program do so in a private mount namespace and are skipped (not
# passed) where that is not possible. The whole-program tests use the real
# pkexec with a system bus and polkitd of their own.
set -eu
cd "$(dirname "$0")/.."
# pkexec, polkitd and a system bus for the whole-program tests, which start
# their own inside a private mount namespace.
sh scripts/install-deps.sh cmake g++ make libpugixml-dev libgtest-dev util-linux mount passwd man-db \
  pkexec polkitd dbus-daemon dbus-system-bus-common chromium fonts-wqy-microhei dpkg-dev lintian
cmake --workflow --preset ci
cmake --workflow --preset asan

# The Debian package: built, checked by lintian (errors fail), installed on
# this machine, its installed program put through the command-line tests
# and the fault cases, and removed again.
sh scripts/package.sh >build/package.log 2>&1 || { cat build/package.log; exit 1; }
grep -E '^(E|W|I):' build/package.log || true
if dpkg-query -W -f='${Status}' tolvane-checktool 2>/dev/null | grep -q "install ok installed"; then
  echo "tolvane-checktool is already installed here: not testing the package over it"
else
  dpkg -i build/release/tolvane-checktool_*.deb >/dev/null
  status=0
  installed=/usr/libexec/tolvane/checktool
  CHECKTOOL_BIN=$installed build/ci/checktool/tests/checktool_test --gtest_filter='CommandLineTest.*' \
    || status=1
  CHECKTOOL_BIN=$installed SYSTEST_WORK=$(pwd)/build/ci/tests/system/work/installed \
    SHARED_HOSTS_DIR=$(cd .. && pwd)/shared/data/hosts sh tests/system/run-group.sh faults || {
    [ $? -eq 77 ] || status=1
  }
  MANWIDTH=80 man --warnings -l /usr/share/man/man1/checktool.1.gz >/dev/null 2>build/man.log
  [ ! -s build/man.log ] || { cat build/man.log; status=1; }
  dpkg -r tolvane-checktool >/dev/null
  [ "$status" -eq 0 ] || exit 1
  echo "installed package: passed"
fi
