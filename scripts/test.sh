#!/bin/sh
# Builds and runs every test: once optimised with warnings as errors, once
# under AddressSanitizer and UndefinedBehaviorSanitizer. Tests that run the
# whole program do so in a private mount namespace and are skipped (not
# passed) where that is not possible.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh cmake g++ make libpugixml-dev libgtest-dev util-linux mount
cmake --workflow --preset ci
cmake --workflow --preset asan
