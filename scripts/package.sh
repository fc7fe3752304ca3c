#!/usr/bin/env bash
# Builds the Debian package of the program. The server addresses are compiled in: set
# KX_ASSET_SERVER_ORIGIN and KX_INFO_SERVICE_ORIGIN (scheme and host, no trailing /) to the real
# servers; without them the package talks to placeholders that reach nothing.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
# Both origins every time, the placeholders where none is given: a build folder's cache must
# never keep the servers of an earlier build.
args=(-DKX_ASSET_SERVER_ORIGIN="${KX_ASSET_SERVER_ORIGIN:-http://card-assets.invalid}"
    -DKX_INFO_SERVICE_ORIGIN="${KX_INFO_SERVICE_ORIGIN:-http://card-info.invalid}")
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DKX_BUILD_TESTS=OFF \
    -DCMAKE_INSTALL_PREFIX=/usr "${args[@]}"
cmake --build build-package
(cd build-package && cpack)
ls -1 "$PWD"/build-package/*.deb
