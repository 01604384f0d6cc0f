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
sh scripts/install-deps.sh cmake g++ make libpugixml-dev libgtest-dev util-linux mount passwd \
  pkexec polkitd dbus-daemon dbus-system-bus-common
cmake --workflow --preset ci
cmake --workflow --preset asan
