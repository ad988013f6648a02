#!/bin/sh
# Usage: release_is_reproducible.sh
# Clones the last commit twice, at paths of different lengths, builds the
# release in each (scripts/release) and compares the files SHA256SUMS lists.
# Where they differ, diffoscope shows how.
top=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
one=$work/one
other=$work/another/clone/of/usbprobe
for tree in "$one" "$other"; do
    git clone -q "$top" "$tree" && sh "$tree/scripts/release" >"$work/log" 2>&1 ||
        { cat "$work/log"; echo "cannot build the release in $tree"; exit 1; }
done

if cmp -s "$one/build/release/SHA256SUMS" "$other/build/release/SHA256SUMS"; then
    echo "two clones at different paths built the same release files:"
    cat "$one/build/release/SHA256SUMS"
    exit 0
fi
diff "$one/build/release/SHA256SUMS" "$other/build/release/SHA256SUMS"
for file in $(awk '{ print $2 }' "$one/build/release/SHA256SUMS"); do
    cmp -s "$one/build/release/$file" "$other/build/release/$file" ||
        diffoscope --text - "$one/build/release/$file" "$other/build/release/$file" | head -n 60
done
exit 1
