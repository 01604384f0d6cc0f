#!/bin/sh
# Builds the Debian package of the program (build/release/*.deb) and checks
# it with lintian: errors fail, warnings are listed.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh cmake g++ make libpugixml-dev libglib2.0-dev pkg-config dpkg-dev lintian
cmake --preset release >/dev/null
cmake --build --preset release
rm -f build/release/*.deb
cpack --preset release >/dev/null
deb=$(ls build/release/*.deb)
echo "Built $deb"
dpkg-deb --field "$deb"
dpkg-deb --contents "$deb"
# lintian exits non-zero on errors only (its default --fail-on error).
lintian --info --display-info "$deb"
echo "lintian: no errors"
