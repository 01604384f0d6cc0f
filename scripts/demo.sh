#!/bin/sh
# Shows what the program does, safely: in a private mount namespace with its
# own /etc, /tmp, /usr/share and /run (with a system bus and polkitd of its
# own), a broken hosts file and desktop entry are repaired by the real
# program through the real pkexec, and the changes and the report are shown.
# The machine's own files are not touched. Needs root for the namespace.
set -eu
cd "$(dirname "$0")/.."
if [ "$(id -u)" -ne 0 ]; then
  echo "The demo needs root (it builds a private mount namespace); try: sudo sh scripts/demo.sh"
  exit 1
fi
sh scripts/install-deps.sh cmake g++ make libpugixml-dev libglib2.0-dev pkg-config util-linux passwd \
  pkexec polkitd dbus-daemon dbus-system-bus-common
cmake --preset release >/dev/null
cmake --build --preset release >/dev/null
CHECKTOOL_BIN=$(pwd)/build/release/checktool/checktool SYSTEST_WORK=$(pwd)/build/demo \
  HOSTS_DATA_DIR=/nonexistent exec sh tests/system/run-group.sh demo
