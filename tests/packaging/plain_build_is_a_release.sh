#!/bin/sh
# Checks that the README's plain build is an optimised release build that installs just the README's files.
# Usage: plain_build_is_a_release.sh   (scripts/check runs it)
# The README's plain build, with no option given, is an optimised release
# build, and `cmake --install` puts exactly the files the README lists under
# the prefix: none in a format of Debian's own.
top=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "$*"; failed=1; }

{ cmake -S "$top" -B "$work/build" >"$work/log" 2>&1 && cmake --build "$work/build" >>"$work/log" 2>&1; } ||
    { cat "$work/log"; echo "the plain build failed"; exit 1; }
grep -qx 'CMAKE_BUILD_TYPE:STRING=Release' "$work/build/CMakeCache.txt" || fail "the plain build is not a Release build"
grep -q -- '-O3' "$work/build/CMakeFiles/usbprobe.dir/flags.make" || fail "the plain build does not optimise"

DESTDIR=$work/root cmake --install "$work/build" >/dev/null
installed=$(cd "$work/root" && find . -type f | LC_ALL=C sort)
expected='./usr/local/bin/usbprobe
./usr/local/share/doc/usbprobe/LICENSE
./usr/local/share/doc/usbprobe/README.md
./usr/local/share/doc/usbprobe/examples/60-usbprobe.rules
./usr/local/share/man/man1/usbprobe.1.gz'
[ "$installed" = "$expected" ] || fail "cmake --install installs:
$installed
not what the README lists:
$expected"

[ "$failed" -eq 0 ] && echo "the plain build is a Release build and installs the five files the README lists"
exit "$failed"
