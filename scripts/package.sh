#!/usr/bin/env bash
# Builds the Debian package of the program. The server addresses are compiled in: set
# KX_ASSET_SERVER_ORIGIN and KX_INFO_SERVICE_ORIGIN (scheme and host, no trailing /) to the real
# servers; without them the package talks to placeholders that reach nothing
# (KX_PACKAGE_BUILD_DIR builds elsewhere than build-package).
set -euo pipefail
cd "$(dirname "$0")/.."
out="${KX_PACKAGE_BUILD_DIR:-build-package}"

bash scripts/install-deps.sh
source scripts/origins.sh
cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKX_BUILD_TESTS=OFF \
    -DCMAKE_INSTALL_PREFIX=/usr "${origin_args[@]}"
cmake --build "$out"
cd "$out"
rm -f ./*.deb
cpack
deb="$(ls ./*.deb)"

# CPack counts each folder in Installed-Size by the size its file system gives folders, which
# differs between file systems (ext4, btrfs, tmpfs). Packed again by dpkg-deb, with the size
# counted as Debian counts it (each file in whole KiB, each folder or link 1), the package is
# the same bytes on any file system.
rm -rf deb-contents
dpkg-deb --raw-extract "$deb" deb-contents
size="$(find deb-contents -mindepth 1 -path deb-contents/DEBIAN -prune -o \
    \( -type f -printf '%s\n' -o -printf '1024\n' \) |
    awk '{ kib += int(($1 + 1023) / 1024) } END { print kib }')"
sed -i "s/^Installed-Size: .*/Installed-Size: $size/" deb-contents/DEBIAN/control
dpkg-deb --root-owner-group -Zgzip --build deb-contents "$deb" >/dev/null
ls -1 "$PWD/${deb#./}"
