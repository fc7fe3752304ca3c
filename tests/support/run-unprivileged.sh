#!/bin/sh
# Runs a test program as an unprivileged user when started as root, so that permissions on
# folders mean for the program what they mean for a user. The program is copied to a place
# that user can read, beside files of another account (root's) for it to try to replace.
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
# Files of another account in folders this user may change: one only its owner may write, and
# one anyone may write in a folder where only owners may remove or replace files.
others="$dir/of-another-account"
mkdir -p "$others/sticky"
printf 'keep' >"$others/a0001c.jpg"
printf 'keep' >"$others/sticky/a0001c.jpg"
chmod 644 "$others/a0001c.jpg"
chmod 666 "$others/sticky/a0001c.jpg"
chmod 1777 "$others/sticky"
chown 65534:65534 "$others"
cd "$dir"
KX_FILES_OF_ANOTHER_ACCOUNT="$others" HOME="$dir" TMPDIR="$dir" setpriv --reuid=65534 --regid=65534 --clear-groups "$dir/$name" "$@"
