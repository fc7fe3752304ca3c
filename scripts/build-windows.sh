#!/usr/bin/env bash
# Builds the Windows program on Debian 12 with the mingw-w64 cross compilers, against qtbase and
# curl built from Debian's own source packages (scripts/windows-deps.sh, cached after the first
# run), and packs it: build-windows/kx-card-updater-VERSION-win64-setup.exe and
# build-windows/kx-card-updater-VERSION-win64.zip. Set KX_ASSET_SERVER_ORIGIN and
# KX_INFO_SERVICE_ORIGIN to the real servers, as for scripts/package.sh (KX_WINDOWS_BUILD_DIR
# builds elsewhere than build-windows).
set -euo pipefail
cd "$(dirname "$0")/.."
out="${KX_WINDOWS_BUILD_DIR:-build-windows}"

deps="$(bash scripts/windows-deps.sh | tail -n 1)"
bash scripts/install-deps.sh libz-mingw-w64-dev >&2
source scripts/origins.sh
cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKX_BUILD_TESTS=OFF \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_PREFIX_PATH="$deps" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake "${origin_args[@]}"
cmake --build "$out"
cd "$out"
cpack -G NSIS

# The zip holds what the installer installs, in name order and without owners or extra
# attributes (CPack's zip lists files as the file system returns them and records the
# builder's account), so that it is the same bytes on any file system for anyone.
name="$(sed -n 's/^set(CPACK_PACKAGE_FILE_NAME "\(.*\)")$/\1/p' CPackConfig.cmake)"
rm -rf zip-contents "$name.zip"
cmake --install . --prefix "$PWD/zip-contents/$name" --strip >/dev/null
if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
    find zip-contents -exec touch --no-dereference --date="@$SOURCE_DATE_EPOCH" {} +
fi
(cd zip-contents && find "$name" | LC_ALL=C sort | zip -X -q "../$name.zip" -@)
ls -1 "$PWD/$name-setup.exe" "$PWD/$name.zip"
