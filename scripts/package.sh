#!/bin/sh
# Builds the Debian package of the program (build/release/*.deb) and checks
# it with lintian: errors fail, warnings are listed. The package comes out
# the same bit for bit from the same commit: its timestamps are those of the
# last commit (SOURCE_DATE_EPOCH), unless the caller set them.
set -eu
cd "$(dirname "$0")/.."
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null) ||
    { echo "no git history here: set SOURCE_DATE_EPOCH for a reproducible package" >&2; SOURCE_DATE_EPOCH=; }
fi
[ -z "$SOURCE_DATE_EPOCH" ] || export SOURCE_DATE_EPOCH
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
