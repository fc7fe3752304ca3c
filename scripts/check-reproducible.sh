#!/usr/bin/env bash
# Checks that a release is reproducible: builds the release of the current commit twice, from
# two clones in folders of different names and depths, one after the other, and compares their
# SHA256SUMS. The second builds in memory (/dev/shm) where there is room, so that a file system
# that lists folders in another order or sizes them otherwise would show too. On a difference
# it says which files differ and by how many bytes (diffoscope, if installed, shows where).
# Builds for the placeholder servers; local changes are not checked.
set -euo pipefail
cd "$(dirname "$0")/.."
repo="$PWD"
commit="$(git rev-parse HEAD)"

elsewhere="${TMPDIR:-/tmp}"
if [ -w /dev/shm ] && [ "$(df --output=avail -k /dev/shm | tail -n 1)" -gt $((4 * 1024 * 1024)) ]; then
    elsewhere=/dev/shm
fi
first="$(mktemp -d "${TMPDIR:-/tmp}/kx-reproducible.XXXXXX")"
second="$(mktemp -d "$elsewhere/kx-reproducible.XXXXXX")"
trap 'rm -rf "$first" "$second"' EXIT
clones=("$first/kx" "$second/a much longer path/kx-card-updater")
for clone in "${clones[@]}"; do
    git clone --quiet --no-checkout "$repo" "$clone"
    git -C "$clone" checkout --quiet --detach "$commit"
    echo "check-reproducible: building in $clone" >&2
    (cd "$clone" && TMPDIR="$(dirname "$clone")" bash scripts/release.sh --placeholder-servers >/dev/null)
done

first="${clones[0]}/dist"
second="${clones[1]}/dist"
if cmp -s "$first/SHA256SUMS" "$second/SHA256SUMS"; then
    echo "check-reproducible: the same bytes twice for commit $commit:"
    cat "$first/SHA256SUMS"
    exit 0
fi
echo "check-reproducible: the two builds of commit $commit differ:" >&2
while read -r _ file; do
    cmp -s "$first/$file" "$second/$file" ||
        echo "  $file: $(cmp -l "$first/$file" "$second/$file" 2>&1 | wc -l) bytes differ" >&2
done <"$first/SHA256SUMS"
if command -v diffoscope >/dev/null; then
    diffoscope "$first" "$second" >&2 || true
fi
exit 1
