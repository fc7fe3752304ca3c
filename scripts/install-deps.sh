#!/usr/bin/env bash
# Installs what building, running and testing the program need on Debian 12, and the packages
# named as arguments.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev
    libcurl4-openssl-dev zlib1g-dev fonts-liberation
    libcpp-httplib-dev
    squid openssl nginx-light apache2 libapache2-mod-php # real proxy and server software in the tests
    xvfb xauth imagemagick curl aria2 wget # aria2c and wget: peers in the benchmark
    dpkg-dev file desktop-file-utils zip unzip
    "$@" # what the caller needs besides
)

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
