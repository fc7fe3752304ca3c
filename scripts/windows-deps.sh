#!/usr/bin/env bash
# Installs the Windows cross tools from Debian and builds, once, what the Windows program links:
# qtbase and curl from Debian's own source packages, and cpp-httplib's header for the sample
# card server in the Windows test suites. The builds are kept outside the clone, keyed by their
# versions and by what shapes them (this script and the toolchain file), so later runs only
# print the folder. Prints the dependency prefix as its last line.
set -euo pipefail
cd "$(dirname "$0")/.."
project="$PWD"

bash scripts/install-deps.sh g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix \
    binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev wine64 nsis zip perl python3 >&2
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

# The source packages come from the same archive as the binary ones.
if ! apt-get indextargets --format '$(CREATED_BY)' 2>/dev/null | grep -q '^Sources$'; then
    sources=/etc/apt/sources.list.d/kx-deb-src.sources
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
        sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
            $sudo tee "$sources" >/dev/null
    else
        grep -h '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' |
            $sudo tee /etc/apt/sources.list.d/kx-deb-src.list >/dev/null
    fi
    $sudo apt-get update >&2
fi

source_version() { apt-cache showsrc "$1" | sed -n 's/^Version: //p' | sort -V | tail -n 1; }
qt_version="$(source_version qt6-base)"
curl_version="$(source_version curl)"
httplib_version="$(source_version cpp-httplib)"
compiler_version="$(x86_64-w64-mingw32-g++-posix -dumpversion)"
toolchain="$project/cmake/mingw-w64-x86_64.cmake"
recipe="$(cat "$project/scripts/windows-deps.sh" "$toolchain" | sha256sum | cut -c1-12)"
cache="${XDG_CACHE_HOME:-$HOME/.cache}/kx-card-updater/windows-deps"
prefix="$cache/qtbase-${qt_version}_curl-${curl_version}_httplib-${httplib_version}_mingw-${compiler_version}_${recipe}"

if [ ! -f "$prefix/.complete" ]; then
    echo "Building the Windows dependencies into $prefix (about 25 minutes, once)" >&2
    # Built beside the cache, so that an interrupted build goes on where it stopped.
    work="$prefix.build"
    mkdir -p "$work"
    # A source tree counts only once it was unpacked whole: an interrupted one is fetched again.
    for source in "qt6-base=$qt_version" "curl=$curl_version" "cpp-httplib=$httplib_version"; do
        name="${source%%=*}"
        if [ ! -f "$work/.$name.unpacked" ]; then
            rm -rf "$work/$name"[-_]*
            (cd "$work" && apt-get source -qq "$source" >&2)
            touch "$work/.$name.unpacked"
        fi
    done
    # The sample card server's HTTP library, whole: Debian's Linux package splits it into a
    # header and a compiled library.
    install -D -m 644 "$work"/cpp-httplib-*/httplib.h "$prefix/include/httplib/httplib.h"

    # The same libraries whoever builds them and wherever: no path of this machine in the
    # libraries (source file names in Qt's and curl's messages), and the time stamps the linker
    # writes taken from Debian's release of the sources rather than from the clock.
    flags="-ffile-prefix-map=$work/=/build/"
    export SOURCE_DATE_EPOCH
    SOURCE_DATE_EPOCH="$(cd "$work"/qt6-base-*/ && dpkg-parsechangelog -STimestamp)"

    cmake -S "$work"/curl-*/ -B "$work/curl-build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$prefix" \
        -DCMAKE_C_FLAGS="$flags" -DBUILD_SHARED_LIBS=ON -DCURL_USE_SCHANNEL=ON \
        -DCURL_USE_OPENSSL=OFF -DCURL_USE_LIBSSH2=OFF -DUSE_NGHTTP2=OFF -DCURL_ZLIB=OFF \
        -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DUSE_LIBIDN2=OFF -DCURL_DISABLE_LDAP=ON \
        -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF >&2
    cmake --build "$work/curl-build" >&2
    cmake --install "$work/curl-build" >&2

    # Debian's Qt of the same version provides the host tools (moc, rcc, uic).
    cmake -S "$work"/qt6-base-*/ -B "$work/qt-build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$prefix" \
        -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
        -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DBUILD_WITH_PCH=OFF \
        -DFEATURE_system_pcre2=OFF -DFEATURE_system_zlib=OFF -DFEATURE_system_png=OFF \
        -DFEATURE_system_jpeg=OFF -DFEATURE_system_freetype=OFF -DFEATURE_system_harfbuzz=OFF \
        -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_opengl=OFF -DFEATURE_printsupport=OFF \
        -DFEATURE_xml=OFF -DFEATURE_concurrent=OFF -DFEATURE_tabletevent=OFF \
        -DFEATURE_dynamicgl=OFF >&2
    cmake --build "$work/qt-build" >&2
    cmake --install "$work/qt-build" >&2
    touch "$prefix/.complete"
    rm -rf "$work"
fi
echo "$prefix"
