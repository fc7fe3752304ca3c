#!/usr/bin/env bash
# Builds a release of the current commit into dist/: the Windows installer, the Windows zip,
# the Debian package, SHA256SUMS over the three and RELEASE.txt saying what built them. It
# builds from a clean checkout of the commit in fresh build folders, with every time stamp
# taken from the commit, so anyone who builds the same commit on Debian 12 gets the same bytes
# (scripts/check-reproducible.sh checks that). Local changes are not in the release.
#
# The servers are compiled in: set KX_ASSET_SERVER_ORIGIN and KX_INFO_SERVICE_ORIGIN to the
# real ones (http://host or http://host:port). --placeholder-servers builds for addresses that
# reach nothing, to check a build rather than to ship it.
set -euo pipefail
cd "$(dirname "$0")/.."
repo="$PWD"

fail() { echo "release: $*" >&2; exit 1; }
source scripts/origins.sh

placeholders=false
for argument in "$@"; do
    case "$argument" in
        --placeholder-servers) placeholders=true ;;
        -h | --help) sed -n '2,10s/^# \{0,1\}//p' "$0"; exit 0 ;;
        *) fail "unknown option $argument (only --placeholder-servers)" ;;
    esac
done

asset="${KX_ASSET_SERVER_ORIGIN:-}"
info="${KX_INFO_SERVICE_ORIGIN:-}"
if $placeholders; then
    [ -z "$asset$info" ] || fail "--placeholder-servers and KX_*_ORIGIN both given: choose one"
    asset="$placeholder_asset_origin"
    info="$placeholder_info_origin"
else
    [ -n "$asset" ] && [ -n "$info" ] ||
        fail "set KX_ASSET_SERVER_ORIGIN and KX_INFO_SERVICE_ORIGIN to the servers (or build for placeholders with --placeholder-servers)"
    for origin in "$asset" "$info"; do
        [ "$origin" != "$placeholder_asset_origin" ] && [ "$origin" != "$placeholder_info_origin" ] ||
            fail "$origin is a placeholder that reaches nothing (--placeholder-servers builds for it on purpose)"
    done
fi
for origin in "$asset" "$info"; do
    [[ "$origin" =~ ^http://[A-Za-z0-9.-]+(:[0-9]{1,5})?$ ]] ||
        fail "$origin is not a server origin: http://host or http://host:port, no path, no final /"
done

commit="$(git rev-parse HEAD)"
version="$(git show "$commit:CMakeLists.txt" | sed -n 's/^project(KXCardUpdater VERSION \([0-9.]*\) .*/\1/p')"
[ -n "$version" ] || fail "no version in CMakeLists.txt"
git show "$commit:CHANGELOG.md" | grep -q "^## \[$version\]" ||
    fail "CHANGELOG.md has no heading for $version: say what changed before releasing it"
[ -z "$(git status --porcelain --untracked-files=no)" ] ||
    echo "release: local changes are left out: the release is commit $commit as committed" >&2

# Everything that could tell one build from another comes from the commit or is fixed.
export SOURCE_DATE_EPOCH
SOURCE_DATE_EPOCH="$(git log -1 --format=%ct "$commit")"
export TZ=UTC LC_ALL=C.UTF-8
umask 022

work="$(mktemp -d "${TMPDIR:-/tmp}/kx-release.XXXXXX")"
trap 'rm -rf "$work"' EXIT
git clone --quiet --no-checkout "$repo" "$work/source"
git -C "$work/source" checkout --quiet --detach "$commit"

export KX_ASSET_SERVER_ORIGIN="$asset" KX_INFO_SERVICE_ORIGIN="$info"
KX_WINDOWS_BUILD_DIR="$work/windows" bash "$work/source/scripts/build-windows.sh" >&2
KX_PACKAGE_BUILD_DIR="$work/debian" bash "$work/source/scripts/package.sh" >&2

files=("kx-card-updater-$version-win64-setup.exe" "kx-card-updater-$version-win64.zip"
    "kx-card-updater_${version}_amd64.deb")
rm -rf dist
mkdir dist
cp "$work/windows/${files[0]}" "$work/windows/${files[1]}" "$work/debian/${files[2]}" dist/

# The programs say which commit they are.
dpkg-deb -x "dist/${files[2]}" "$work/unpacked"
"$work/unpacked/usr/bin/kx-card-updater" --version | grep -qx "commit $commit" ||
    fail "the Linux program does not say it is commit $commit"
unzip -p "dist/${files[1]}" "*/kx-card-updater.exe" | python3 -c '
import sys
sys.exit(sys.argv[1].encode("utf-16-le") not in sys.stdin.buffer.read())' "$commit" ||
    fail "the Windows program does not say it is commit $commit"

(cd dist && sha256sum "${files[@]}") >dist/SHA256SUMS
deps="$(basename "$(sed -n 's/^CMAKE_PREFIX_PATH:[A-Z]*=//p' "$work/windows/CMakeCache.txt")")"
qt="$(sed -n 's/^qtbase-\([^_]*\)_.*/\1/p' <<<"$deps")"
curl="$(sed -n 's/.*_curl-\([^_]*\)_.*/\1/p' <<<"$deps")"
tools=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev nsis zip g++-12
    binutils qt6-base-dev qt6-base-dev-tools libcurl4-openssl-dev dpkg cmake)
{
    echo "KX Card Updater $version"
    echo "Commit:             $commit"
    echo "SOURCE_DATE_EPOCH:  $SOURCE_DATE_EPOCH ($(date -u -d "@$SOURCE_DATE_EPOCH" '+%F %T UTC'))"
    echo "Card asset server:  $asset"
    echo "Card-info service:  $info"
    echo
    echo "Windows libraries, built from Debian's source packages:"
    echo "  qtbase $qt, curl $curl"
    echo "Debian 12 packages that built it (the same versions build the same bytes):"
    for tool in "${tools[@]}"; do
        printf '  %-28s %s\n' "$tool" "$(dpkg-query -W -f='${Version}' "$tool")"
    done
    echo
    echo "To check a download: sha256sum -c SHA256SUMS in the folder holding it. To rebuild it:"
    echo "check out the commit and run scripts/release.sh with the same servers, then compare"
    echo "the two SHA256SUMS."
} >dist/RELEASE.txt
cat dist/SHA256SUMS
