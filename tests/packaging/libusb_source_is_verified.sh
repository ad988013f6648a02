#!/bin/sh
# Checks that the Windows build takes libusb's source as fetched, and stops, naming the file, when it differs.
# Usage: libusb_source_is_verified.sh   (scripts/check runs it; needs the source that a Windows
#   build of this checkout has fetched)
# Configures the Windows x86 build with libusb's source taken from a folder of our own: as
# fetched it is taken; changed or missing, the configure stops and names the file. A pinned
# version that the archive no longer offers is reported as such, with how to supply the source.
top=$(cd "$(dirname "$0")/../.." && pwd)
fetched=$top/build/deps/libusb-source
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "$*"; failed=1; }
version=$(sed -n 's/^version //p' "$top/cmake/libusb.txt")
suite=$(sed -n 's/^suite //p' "$top/cmake/libusb.txt")
tarball=$(awk '{ print $2 }' "$top/cmake/libusb.sha256")

# NAME CHANGE FILE EXPECTED: CHANGE is applied to FILE in a copy of the source.
while read -r name change file expected; do
    rm -rf "$work/source" "$work/build" && cp -r "$fetched" "$work/source"
    case $change in
    none) ;;
    byte) printf 'x' | dd of="$work/source/$file" bs=1 seek=100 conv=notrunc status=none ;;
    remove) rm "$work/source/$file" ;;
    esac
    cmake --preset windows-x86 -B "$work/build" -DUSBPROBE_LIBUSB_SOURCE_DIR="$work/source" >"$work/log" 2>&1
    status=$?
    if [ "$expected" = configures ]; then
        [ "$status" -eq 0 ] || { cat "$work/log"; fail "$name: the configure failed"; }
    elif [ "$status" -eq 0 ]; then
        fail "$name: the configure went on"
    elif ! grep -q "$work/source/$file is missing or does not match its checksum" "$work/log"; then
        cat "$work/log"; fail "$name: the configure did not name $file"
    fi
done <<CASES
as_fetched none - configures
changed_tarball byte $tarball stops
missing_tarball remove $tarball stops
CASES

# A version of the pinned upstream release that the archive never had.
gone=${version%-*}-0.1
sh "$top/scripts/build-libusb" i686-w64-mingw32 "$gone" "$suite" "$top/cmake/libusb.sha256" \
    "$work/fetch" fetch "$work/prefix" >"$work/log" 2>&1 && fail "a version the archive lacks was built"
{ grep -q "libusb-1.0 $gone is no longer in $suite of the distribution's archive" "$work/log" &&
    grep -q -- "-DUSBPROBE_LIBUSB_SOURCE_DIR=" "$work/log"; } ||
    { cat "$work/log"; fail "a version the archive lacks is not reported as such"; }

[ "$failed" -eq 0 ] && echo "libusb's source is taken as fetched, refused when changed or incomplete, and a version gone from the archive is named"
exit "$failed"
