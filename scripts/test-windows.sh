#!/usr/bin/env bash
# Builds the test suites for Windows and runs them under Wine (offscreen), then installs the
# Windows installer silently under Wine and updates a 100-card collection with the installed
# program, its window driven under Xvfb, against the sample card server.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

bash scripts/build-windows.sh >/dev/null
deps="$(bash scripts/windows-deps.sh | tail -n 1)"
bash scripts/install-deps.sh xdotool libz-mingw-w64-dev

wine=/usr/lib/wine/wine64
build=build-windows-tests
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_PREFIX_PATH="$deps" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_CROSSCOMPILING_EMULATOR="$wine"
cmake --build "$build"

# A Wine of our own, made afresh: nothing of the machine's ~/.wine is used or changed. Wine
# finds the Qt, libcurl and compiler DLLs through WINEPATH; Qt finds its plugins beside its
# libraries. Wine's own web and .NET runtimes are never installed.
export WINEPREFIX="$root/$build/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
windows_path() { printf 'Z:%s' "${1//\//\\}"; }
runtime="$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll)")"
export WINEPATH="$(windows_path "$deps/bin");$(windows_path "$runtime");$(windows_path /usr/x86_64-w64-mingw32/lib)"
rm -rf "$WINEPREFIX"
"$wine" wineboot --init >/dev/null 2>&1
# Wine passes no QT_ variable on from Linux; the prefix's own environment does.
"$wine" reg add 'HKCU\Environment' /v QT_QPA_PLATFORM /d offscreen /f >/dev/null
/usr/lib/wine/wineserver64 -w
trap '/usr/lib/wine/wineserver64 -k 2>/dev/null || true' EXIT

# A manual proxy in the Internet settings, as Windows' proxy page writes it: Debian's squid,
# which alone knows the host name the suites ask for through it (loopback addresses never go
# through a proxy, so the other suites are not affected).
proxy_port="${KX_PROXY_PORT:-48175}"
squid_dir="$(mktemp -d)" # outside the work tree, which squid's own user may not reach
chmod 777 "$squid_dir"
echo "127.0.0.1 cards.kx.test" >"$squid_dir/hosts"
printf '%s\n' "http_port 127.0.0.1:$proxy_port" "pid_filename none" \
    "access_log stdio:$squid_dir/access.log" "cache_log $squid_dir/cache.log" \
    "cache_store_log none" "coredump_dir $squid_dir" "netdb_filename none" "icp_port 0" \
    "htcp_port 0" "shutdown_lifetime 0 seconds" "cache deny all" "hosts_file $squid_dir/hosts" \
    "http_access allow all" >"$squid_dir/squid.conf"
/usr/sbin/squid -N -f "$squid_dir/squid.conf" &
squid=$!
trap 'kill $squid 2>/dev/null || true; rm -rf "$squid_dir"; /usr/lib/wine/wineserver64 -k 2>/dev/null || true' EXIT
for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$proxy_port") 2>/dev/null && break; sleep 0.1; done
settings="$(python3 -c '
import struct, sys
proxy, bypass = sys.argv[1].encode(), b"<local>"
blob = struct.pack("<III", 0x46, 1, 3)  # version, counter, direct | manual proxy
blob += struct.pack("<I", len(proxy)) + proxy + struct.pack("<I", len(bypass)) + bypass
print((blob + struct.pack("<I", 0) + bytes(32)).hex())' "127.0.0.1:$proxy_port")"
"$wine" reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections' \
    /v DefaultConnectionSettings /t REG_BINARY /d "$settings" /f >/dev/null

KX_TEST_PROXIED_HOST=cards.kx.test ctest --test-dir "$build" --output-on-failure "$@"
[ $# -gt 0 ] || grep -q "http://cards.kx.test:" "$squid_dir/access.log" ||
    { echo "the Windows suites did not go through the proxy of the Internet settings" >&2; exit 1; }
kill $squid
wait $squid || true
rm -rf "$squid_dir"
"$wine" reg delete 'HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections' \
    /v DefaultConnectionSettings /f >/dev/null
trap '/usr/lib/wine/wineserver64 -k 2>/dev/null || true' EXIT

# The installers, silently, as users upgrade: a per-user install upgraded by a later version
# (one install, in the same mode and folder), then uninstalled (the user's files kept); an
# install for every user in a folder of the user's choice, upgraded in place. The later version
# is the same build packed with a higher version number. The programs are built for the sample
# card server's address; only what the installers put on the machine is on the path now.
port="${KX_SMOKE_PORT:-48174}"
origin="http://127.0.0.1:$port"
rm -f build-windows-smoke/kx-card-updater-*-setup.exe
KX_WINDOWS_BUILD_DIR=build-windows-smoke KX_ASSET_SERVER_ORIGIN="$origin" \
    KX_INFO_SERVICE_ORIGIN="$origin" bash scripts/build-windows.sh >/dev/null
setup="$(ls "$root"/build-windows-smoke/kx-card-updater-*-win64-setup.exe)"
(cd build-windows-smoke && cpack -G NSIS -D CPACK_PACKAGE_VERSION=9.8.7 \
    -D CPACK_PACKAGE_VERSION_MAJOR=9 -D CPACK_PACKAGE_VERSION_MINOR=8 \
    -D CPACK_PACKAGE_VERSION_PATCH=7 -D CPACK_PACKAGE_FILE_NAME=upgrade-win64 >/dev/null)
upgrade="$root/build-windows-smoke/upgrade-win64-setup.exe"
python3 - "$upgrade" <<'PY' || { echo "smoke: the installer carries no version information" >&2; exit 1; }
import sys
exe = open(sys.argv[1], "rb").read()
sys.exit(0 if all(text.encode("utf-16-le") in exe for text in ("ProductVersion", "9.8.7")) else 1)
PY
unset WINEPATH
# Every Wine process of the session shows its windows on the display its first one had.
/usr/lib/wine/wineserver64 -k 2>/dev/null || true
/usr/lib/wine/wineserver64 -w
Xvfb :97 -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
display=$!
trap 'kill $display 2>/dev/null || true; /usr/lib/wine/wineserver64 -k 2>/dev/null || true' EXIT
export DISPLAY=:97
"$wine" reg delete 'HKCU\Environment' /v QT_QPA_PLATFORM /f >/dev/null
# Windows has Arial; Wine draws it with Liberation Sans, which has its metrics.
"$wine" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v Arial /d "Liberation Sans" /f >/dev/null
/usr/lib/wine/wineserver64 -w # a new Wine session reads the changed environment

drive="$WINEPREFIX/drive_c"
entry='Software\Microsoft\Windows\CurrentVersion\Uninstall\kx-card-updater'
user_programs="$drive/users/$(whoami)/AppData/Local/Programs/KX Card Updater"
user_menu="$drive/users/$(whoami)/AppData/Roaming/Microsoft/Windows/Start Menu/Programs"
common_menu="$drive/ProgramData/Microsoft/Windows/Start Menu/Programs"
install() { "$wine" "$@"; /usr/lib/wine/wineserver64 -w; }
version_in() { "$wine" reg query "$1\\$entry" /v DisplayVersion 2>/dev/null | tr -d '\r' | grep -o '[0-9.]*$' || true; }
fail() { echo "smoke: $*" >&2; exit 1; }
menu_entries() { find "$drive" -name 'KX Card Updater.lnk' | wc -l; }

install "$setup" /S /CurrentUser
install "$upgrade" /S
[ "$(version_in HKCU)" = 9.8.7 ] && [ -z "$(version_in HKLM)" ] ||
    fail "the upgrade of a per-user install did not replace it (HKCU $(version_in HKCU), HKLM $(version_in HKLM))"
[ -f "$user_programs/kx-card-updater.exe" ] && [ ! -e "$drive/Program Files/KX Card Updater" ] &&
    [ -f "$user_menu/KX Card Updater.lnk" ] && [ "$(menu_entries)" = 1 ] ||
    fail "the upgrade of a per-user install left two programs or two menu entries"
documents="$drive/users/$(whoami)/Documents"
mkdir -p "$documents" && echo "the user's own" >"$documents/KXSavedInfo.txt"
install "$user_programs/Uninstall.exe" /S /CurrentUser
# Nothing left of the install folder: every file and folder the installer put there was listed.
[ ! -e "$user_programs" ] && [ -z "$(version_in HKCU)" ] && [ "$(menu_entries)" = 0 ] ||
    fail "the uninstaller left files of the program, its entry or its menu entry"
grep -q "the user's own" "$documents/KXSavedInfo.txt" || fail "the uninstaller removed the user's files"

install "$setup" /S /AllUsers '/D=C:\Custom\KX'
install "$upgrade" /S
program="$drive/Custom/KX/kx-card-updater.exe"
[ "$(version_in HKLM)" = 9.8.7 ] && [ -f "$program" ] && [ "$(menu_entries)" = 1 ] &&
    [ ! -e "$drive/Program Files/KX Card Updater" ] ||
    fail "the upgrade of an install in a chosen folder did not replace it in place"

# Documents moved elsewhere (as OneDrive's folder backup does): the Start-menu entry has the
# program keep its files there.
cmake --build build --target kx-sample-server >/dev/null 2>&1 ||
    { cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null &&
        cmake --build build --target kx-sample-server >/dev/null; }
build/tools/kx-sample-server --port "$port" --cards 100 &
server=$!
trap 'kill $server $display 2>/dev/null || true; /usr/lib/wine/wineserver64 -k 2>/dev/null || true' EXIT
smoke="$root/$build/smoke"
rm -rf "$smoke"
mkdir -p "$smoke/Data" "$smoke/OneDrive/Documents"
"$wine" reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders' \
    /v Personal /t REG_EXPAND_SZ /d "$(windows_path "$smoke/OneDrive/Documents")" /f >/dev/null
python3 - "$smoke/Data" <<'PY'
import os, sys
for i in range(100):
    os.makedirs(os.path.join(sys.argv[1], "abcd"[i % 4] + "%04d" % (i // 4 + 1)))
PY
printf '# KX Card Update Saved Info\r\n# UserName\r\nsmoke\r\n# Key Code\r\nSMOKE-KEY\r\n# Path to Data Folder\r\n%s\\\r\n' \
    "$(windows_path "$smoke/Data")" >"$smoke/OneDrive/Documents/KXSavedInfo.txt"

export no_proxy=127.0.0.1
(cd "$smoke" && exec "$wine" start 'C:\ProgramData\Microsoft\Windows\Start Menu\Programs\KX Card Updater.lnk') &
disown # it ends with the Wine session, when the check is done
# The window, as a user works it: the two asset boxes not ticked at start, the confirmation,
# the update button.
title="UpDate My KX Card Data Folder images"
for _ in $(seq 900); do # Wine's first window on a display takes a while
    window="$(xdotool search --name "$title" 2>/dev/null | head -n 1)" && [ -n "$window" ] && break
    sleep 0.2
done
[ -n "${window:-}" ] || { echo "smoke: the window did not open" >&2; exit 1; }
sleep 2
click() { xdotool mousemove --window "$window" "$1" "$2" click 1; sleep 0.3; }
for x in 743 797; do click "$x" 215; done # cbCP cbCX
click 448 338                                          # Check1
click 94 28                                            # Command1
log="$smoke/OneDrive/Documents/KX-GET-CardDataUpdates.txt"
for _ in $(seq 600); do
    grep -q "Total Bytes Downloaded" "$log" 2>/dev/null && break
    sleep 0.2
done
python3 - "$smoke" "$root/build/tools" <<'PY'
import os, subprocess, sys
smoke, tools = sys.argv[1], sys.argv[2]
log = open(os.path.join(smoke, "OneDrive", "Documents", "KX-GET-CardDataUpdates.txt"),
           "rb").read().decode("latin-1")
assert "Total Bytes Downloaded" in log and "Stopped on" not in log, log[-2000:]
# The collection as the server serves it, written by the server itself, compared byte for byte.
expected = os.path.join(smoke, "expected")
subprocess.run([os.path.join(tools, "kx-sample-server"), "--cards", "100", "--complete-data",
                expected], check=True, stdout=subprocess.DEVNULL)
def files(top):
    return {os.path.relpath(os.path.join(d, f), top): open(os.path.join(d, f), "rb").read()
            for d, _, names in os.walk(top) for f in names}
got, want = files(os.path.join(smoke, "Data")), files(expected)
assert got == want, sorted(set(got) ^ set(want))[:10] or [k for k in got if got[k] != want[k]][:10]
print("smoke: DONE, %d files of 100 cards byte for byte" % len(got))
PY

# The same update without a window, as a console user or a scheduled task starts it: in
# Command Prompt, in the install folder, "kx-card-updater" is the console program .com, which
# cmd waits for and whose exit status it returns. One card's files are gone again.
for _ in $(seq 100); do [ ! -e "$smoke/Data/.kx-update.lock" ] && break; sleep 0.1; done
rm -f "$smoke"/Data/a0001/*
help="$("$wine" cmd /c 'cd /d C:\Custom\KX && kx-card-updater --help' | tr -d '\r')"
grep -q '^Exit status:$' <<<"$help" || fail "kx-card-updater --help printed nothing in Command Prompt"
status=0
out="$("$wine" cmd /c 'cd /d C:\Custom\KX && kx-card-updater --run --in-documents --get all' 2>&1 |
    tr -d '\r')" || status=$?
[ "$status" = 0 ] && grep -q '^Cards: 100 of 100$' <<<"$out" && grep -q '^Files fetched: 7 ' <<<"$out" ||
    fail "the unattended run through kx-card-updater.com: status $status, output: $out"
[ "$(grep -c "Total Bytes Downloaded" "$log")" = 2 ] || fail "the unattended run wrote no block"
(cd "$smoke/expected/a0001" && for f in *; do cmp -s "$f" "$smoke/Data/a0001/$f" || exit 1; done) ||
    fail "the unattended run did not restore card a0001 byte for byte"
echo "smoke: the unattended run through kx-card-updater.com brought a0001 back, status 0"
