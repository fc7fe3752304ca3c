#!/usr/bin/env bash
# Installs what is needed, builds the program against the bundled sample card server, makes a
# sample data folder with some files missing and damaged, starts the server and opens the
# window. The saved settings already point at the sample data folder: tick the box and press
# "Update KX Card Data".
set -euo pipefail
cd "$(dirname "$0")/.."

port="${KX_DEMO_PORT:-48173}"
origin="http://127.0.0.1:${port}"
demo="$PWD/demo"

bash scripts/install-deps.sh
cmake -S . -B build-demo -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKX_ASSET_SERVER_ORIGIN="$origin" -DKX_INFO_SERVICE_ORIGIN="$origin"
cmake --build build-demo --target kx-card-updater kx-sample-server

rm -rf "$demo/Data"
mkdir -p "$demo"
build-demo/tools/kx-sample-server --cards 40 --make-data "$demo/Data"
if [ ! -f "$demo/KXSavedInfo.txt" ]; then
    printf '# KX Card Update Saved Info\r\n# UserName\r\nsampleuser\r\n# Key Code\r\nSAMPLE-KEY-0001\r\n# Path to Data Folder\r\n%s\\\r\n' \
        "$demo/Data" >"$demo/KXSavedInfo.txt"
fi

build-demo/tools/kx-sample-server --port "$port" --cards 40 &
server=$!
trap 'kill $server 2>/dev/null || true' EXIT
sleep 0.5

# The window talks to the sample server on loopback, never through a proxy set for the machine.
export no_proxy="127.0.0.1,localhost${no_proxy:+,$no_proxy}"
cd "$demo"
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "No display: starting the window under xvfb-run (nothing will be visible)."
    xvfb-run -a "$OLDPWD/build-demo/src/kx-card-updater"
else
    "$OLDPWD/build-demo/src/kx-card-updater"
fi
