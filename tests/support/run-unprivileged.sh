#!/bin/sh
# Runs a test program as an unprivileged user when started as root, so that permissions on
# folders mean for the program what they mean for a user. The program is copied to a place
# that user can read.
set -e
program="$1"
shift
if [ "$(id -u)" != 0 ] || ! command -v setpriv >/dev/null 2>&1; then
    exec "$program" "$@"
fi
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
name=$(basename "$program")
cp "$program" "$dir/$name"
chmod 755 "$dir/$name"
chown 65534:65534 "$dir"
cd "$dir"
HOME="$dir" TMPDIR="$dir" setpriv --reuid=65534 --regid=65534 --clear-groups "$dir/$name" "$@"
