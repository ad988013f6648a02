#!/bin/sh
# Checks a release as its users get it: its sums, and that each zip rebuilds its exe and itself offline.
# Usage: zips_rebuild_their_exes.sh RELEASE_DIR   (scripts/check runs it on build/release)
# With its zips and static .tar.gz unpacked beside it, SHA256SUMS must check, and must list the
# exe of every zip. Then each zip, unpacked into a fresh folder, must rebuild its exe bit for bit
# from its source folder alone, without network, with the commands its NOTICE.txt gives. That
# tree, which has no git, must then run the Windows tests (which make wine prefixes, whose drive
# Z: links to /) and package itself again within minutes, with a link loop in its build folder
# too, into a zip whose source is the one it came from. Last, following the notice's steps for a
# changed libusb, it must link a libusb with a changed message instead.
release=$(cd "$1" && pwd)
top=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "$*"; failed=1; }

mkdir "$work/release"
cd "$work/release" || exit 1
for zip in "$release"/*.zip; do unzip -q "$zip"; done
for archive in "$release"/*-linux-*.tar.gz; do tar -xzf "$archive"; done
cp -R "$release"/. .
sha256sum --quiet --strict -c SHA256SUMS || fail "SHA256SUMS does not check against the release"
# The README's check of one download, beside SHA256SUMS alone: it passes, and
# fails once the download has changed.
mkdir "$work/download"
set -- ./*.deb
cp SHA256SUMS "$1" "$work/download/"
(cd "$work/download" && sha256sum -c --ignore-missing SHA256SUMS >/dev/null 2>&1) ||
    fail "sha256sum -c --ignore-missing SHA256SUMS fails on a download as released"
printf x >>"$(ls "$work"/download/*.deb)"
(cd "$work/download" && sha256sum -c --ignore-missing SHA256SUMS >/dev/null 2>&1) &&
    fail "sha256sum -c --ignore-missing SHA256SUMS passes a changed download"

for zip in *.zip; do
    name=${zip%.zip}
    grep -q "^[0-9a-f]\{64\}  $name/usbprobe\.exe\$" SHA256SUMS || fail "SHA256SUMS does not list $name/usbprobe.exe"
    commands=$(tr -d '\r' <"$name/NOTICE.txt" | sed -n 's/^  \(cmake .*\)$/\1/p')
    preset=$(echo "$commands" | sed -n 's/^cmake --build --preset \([^ ]*\)$/\1/p')
    [ -n "$preset" ] || { fail "$name/NOTICE.txt gives no build command"; continue; }
    mkdir "$work/$name" && unzip -q "$release/$zip" -d "$work/$name"
    source_dir=$(echo "$work/$name/$name"/source/usbprobe-*)
    started=$(date +%s)
    if ! (cd "$source_dir" && unshare -n sh -ec "$commands") >"$work/$name.log" 2>&1; then
        tail -n 30 "$work/$name.log"
        fail "the source in $zip does not build its exe without network"
    elif ! cmp "$source_dir/build/$preset/usbprobe.exe" "$name/usbprobe.exe"; then
        fail "the exe rebuilt from the source in $zip differs from the one it holds"
    else
        echo "$zip: rebuilt its exe bit for bit without network in $(($(date +%s) - started)) s"
    fi

    tested_zip=$source_dir/build/$preset/$zip
    # The wine prefixes and the virtual machine's kernel are the checkout's,
    # where they are made already.
    if ! (cd "$source_dir" && ln -s .. "build/$preset/loop" &&
        cmake --preset "$preset" -DBUILD_TESTING=ON -DUSBPROBE_LIBUSB_SOURCE_DIR="$PWD/../libusb" \
            -DUSBPROBE_GUEST_CACHE_DIR="$top/build/deps/guests" -DUSBPROBE_WINE_PREFIX_DIR="$top/build/deps/wine" &&
        cmake --build --preset "$preset" && ctest --preset "$preset") >"$work/$name.log" 2>&1; then
        tail -n 30 "$work/$name.log"
        fail "the source in $zip does not run its tests without git"
        continue
    fi
    tests=$(grep -o 'out of [0-9]*' "$work/$name.log" | tail -n 1 | cut -d' ' -f3)
    started=$(date +%s)
    if ! (cd "$source_dir" && timeout 300 cpack --preset "$preset") >"$work/$name.log" 2>&1; then
        tail -n 30 "$work/$name.log"
        fail "the source in $zip, without git, does not package itself within 300 s after its tests"
    elif ! unzip -q "$release/$zip" -d "$work/$name-original" || ! unzip -q "$tested_zip" -d "$work/$name-again" ||
        ! diff -r "$work/$name-original/$name/source" "$work/$name-again/$name/source"; then
        fail "the zip that the source in $zip packs ships other source than $zip"
    else
        echo "$zip: its source, without git, ran its $tests tests, then packaged the same source again in $(($(date +%s) - started)) s"
    fi

    steps=$(tr -d '\r' <"$name/NOTICE.txt" | sed -n 's/^  \(tar .*\|sha256sum .*\)$/\1/p')
    libusb_dir=$work/$name/$name/source/libusb
    if ! (cd "$libusb_dir" && sh -ec "$(echo "$steps" | sed -n 1p)" &&
        sed -i 's/WinUSB DLL available (/WinUSB DLL available, relinked (/' libusb-*/libusb/os/windows_winusb.c &&
        sh -ec "$(echo "$steps" | sed 1d)" && cd "$source_dir" && unshare -n sh -ec "$commands") >"$work/$name.log" 2>&1; then
        tail -n 30 "$work/$name.log"
        fail "the steps in $name/NOTICE.txt do not link a changed libusb"
    elif ! grep -q 'WinUSB DLL available, relinked' "$source_dir/build/$preset/usbprobe.exe"; then
        fail "after the steps in $name/NOTICE.txt, the exe does not hold the changed libusb"
    else
        echo "$zip: linked a changed libusb with the steps its notice gives"
    fi
done
exit "$failed"
