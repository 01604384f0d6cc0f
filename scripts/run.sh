#!/bin/sh
# Builds the program and runs it on this machine: it checks /etc/hosts and the
# client's URL-handler desktop entry, repairs what is wrong through pkexec
# (asking for administrator rights only then) and writes report.html in
# English.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh cmake g++ make libpugixml-dev libglib2.0-dev pkg-config pkexec
cmake --preset release >/dev/null
cmake --build --preset release
echo "Running checktool: it checks this machine's /etc/hosts and" \
  "/usr/share/applications/tolvane-url.desktop and repairs what is wrong through pkexec" \
  "(as root, possibly without asking)."
status=0
./build/release/checktool/checktool --path report.html --lang en || status=$?
echo "checktool exited with status $status; the report is $(pwd)/report.html"
exit "$status"
