#!/bin/sh
# Usage: packages_hold_what_they_should.sh DEB... ZIP
# Each .deb (one per architecture) installs the tool, its man page, copyright
# and changelog, depends on libusb's runtime and passes lintian without error
# or warning (lintian also fails a tool built for another architecture than
# the package names); the man page renders without warnings. The .zip holds
# the x86 exe, its text, the MIT licence, the notice and licence of the libusb
# linked into it, libusb's source package as its .dsc lists it, and the tool's
# own source.
failed=0
fail() { echo "$*"; failed=1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

debs=""
while [ "$#" -gt 1 ]; do
    deb=$1
    shift
    contents=$(dpkg-deb -c "$deb") || fail "cannot read $deb"
    for path in ./usr/bin/usbprobe ./usr/share/man/man1/usbprobe.1.gz \
        ./usr/share/doc/usbprobe/copyright ./usr/share/doc/usbprobe/changelog.gz; do
        echo "$contents" | grep -q " $path\$" || fail "$deb lacks $path"
    done
    dpkg-deb -f "$deb" Depends | grep -Eq '(^|, )libusb-1\.0-0( |,|$)' || fail "$deb does not depend on libusb-1.0-0"
    lintian --fail-on error,warning "$deb" 2>/dev/null || fail "lintian finds fault with $deb"

    rm -rf "$work/deb"
    dpkg-deb -x "$deb" "$work/deb"
    LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$work/deb/usr/share/man/man1/usbprobe.1.gz" >"$work/page" 2>"$work/warnings" ||
        fail "man cannot render the page"
    [ -s "$work/warnings" ] && fail "man warns: $(cat "$work/warnings")"
    for heading in NAME SYNOPSIS DESCRIPTION OUTPUT "EXIT STATUS" PERMISSIONS; do
        grep -q "^$heading\$" "$work/page" || fail "the man page has no $heading section"
    done
    debs="$debs $(basename "$deb")"
done
zip=$1

unzip -q "$zip" -d "$work/zip" || fail "cannot unpack $zip"
cd "$work/zip"/* || exit 1
for name in usbprobe.exe README.txt LICENSE.txt NOTICE.txt libusb-COPYING.txt source/usbprobe-*/CMakeLists.txt; do
    [ -f "$name" ] || fail "$zip lacks $name"
done
grep -q '^MIT License' LICENSE.txt && grep -q 'Copyright (c) 2026 the usbprobe developers' LICENSE.txt ||
    fail "LICENSE.txt is not the project's MIT licence"
grep -q 'GNU LESSER GENERAL PUBLIC LICENSE' libusb-COPYING.txt || fail "libusb-COPYING.txt is not the LGPL"
dsc=$(ls source/libusb/*.dsc) || fail "$zip lacks libusb's source package"
grep -q "libusb 1\.0\.[0-9]*," NOTICE.txt && grep -q "$(basename "$dsc")" NOTICE.txt ||
    fail "NOTICE.txt does not name libusb's version and source package"
for file in $(awk '/^Files:/ { on = 1; next } /^[^ ]/ { on = 0 } on { print $3 }' "$dsc"); do
    [ -f "source/libusb/$file" ] || fail "$zip lacks source/libusb/$file, which $(basename "$dsc") lists"
done

[ "$failed" -eq 0 ] && echo "${debs# } and $(basename "$zip") hold what they should"
exit "$failed"
