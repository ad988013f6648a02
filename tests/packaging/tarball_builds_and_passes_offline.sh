#!/bin/sh
# Checks that the source tarball holds just the commit's files and builds and passes its tests offline.
# Usage: tarball_builds_and_passes_offline.sh TARBALL   (scripts/check runs it on the release's)
# The source tarball, as a distribution takes it: it holds exactly the files
# the last commit tracks, under usbprobe-<version>/, each owned by 0:0 with
# mode 0644 or 0755 and the commit's time. Unpacked into a fresh folder, with
# no git and no network, its plain build with the tests on builds and passes
# them, skips none for want of network, and writes nothing into the source.
tarball=$(realpath "$1")
top=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "$*"; failed=1; }

name=$(basename "$tarball" .tar.gz)
commit_time=$(git -C "$top" log -1 --format=%ct)
(cd "$top" && git ls-tree -r --name-only HEAD | sed "s|^|$name/|" | LC_ALL=C sort) >"$work/tracked"
tar -tzf "$tarball" | grep -v '/$' | LC_ALL=C sort | diff "$work/tracked" - ||
    fail "$tarball does not hold exactly the files the last commit tracks (< only tracked, > only packed)"
tar --numeric-owner --full-time --utc -tvzf "$tarball" >"$work/listing"
awk '$2 != "0/0" { print "owner " $2 ": " $6 }
     $1 !~ /^(-rw-r--r--|-rwxr-xr-x|drwxr-xr-x)$/ { print "mode " $1 ": " $6 }' "$work/listing" >"$work/odd"
[ -s "$work/odd" ] && fail "$tarball holds entries not normalised: $(head -n 5 "$work/odd")"
expected_time=$(date -u -d "@$commit_time" '+%Y-%m-%d %H:%M:%S')
awk -v t="$expected_time" '$4 " " $5 != t' "$work/listing" | head -n 3 >"$work/odd"
[ -s "$work/odd" ] && fail "$tarball holds times other than the commit's ($expected_time): $(cat "$work/odd")"

mkdir "$work/unpacked"
tar -xzf "$tarball" -C "$work/unpacked"
source_listing() { (cd "$work/unpacked/$name" && find . -printf '%p %s %T@\n' | LC_ALL=C sort); }
source_listing >"$work/source-before"
started=$(date +%s)
if ! (cd "$work/unpacked" && unshare -n sh -ec "cmake -S $name -B build -DBUILD_TESTING=ON && cmake --build build &&
    ctest --test-dir build --output-on-failure --output-junit junit.xml") >"$work/log" 2>&1; then
    tail -n 40 "$work/log"
    fail "the plain build of $tarball with its tests fails without network"
elif ! sh "$top/tests/packaging/every_shipped_test_ran.sh" "$work/unpacked/build" >"$work/skips"; then
    cat "$work/skips"
    fail "offline, the plain build of $tarball skips tests"
else
    echo "$(basename "$tarball"): exactly the tracked files, normalised; offline, its plain build $(grep -o '[0-9]*% tests passed.*' "$work/log") in $(($(date +%s) - started)) s"
fi
source_listing | diff "$work/source-before" - >"$work/written" || fail "the build wrote into the source: $(head -n 5 "$work/written")"
exit "$failed"
