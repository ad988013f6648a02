#!/bin/sh
# Usage: packages_hold_what_they_should.sh DEB ZIP
# The .deb installs the tool and its man page and depends on libusb's runtime;
# the man page renders without warnings; the .zip holds the x86 exe and its text.
deb=$1 zip=$2
failed=0
fail() { echo "$*"; failed=1; }

contents=$(dpkg-deb -c "$deb") || fail "cannot read $deb"
for path in ./usr/bin/usbprobe ./usr/share/man/man1/usbprobe.1.gz; do
    echo "$contents" | grep -q " $path\$" || fail "$deb lacks $path"
done
dpkg-deb -f "$deb" Depends | grep -Eq '(^|, )libusb-1\.0-0( |,|$)' || fail "$deb does not depend on libusb-1.0-0"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$deb" "$work"
LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$work/usr/share/man/man1/usbprobe.1.gz" >"$work/page" 2>"$work/warnings" ||
    fail "man cannot render the page"
[ -s "$work/warnings" ] && fail "man warns: $(cat "$work/warnings")"
for heading in NAME SYNOPSIS DESCRIPTION OUTPUT "EXIT STATUS" PERMISSIONS; do
    grep -q "^$heading\$" "$work/page" || fail "the man page has no $heading section"
done

listing=$(unzip -Z1 "$zip") || fail "cannot read $zip"
for name in usbprobe.exe README.txt; do
    echo "$listing" | grep -q "/$name\$" || fail "$zip lacks $name"
done

[ "$failed" -eq 0 ] && echo "$(basename "$deb") and $(basename "$zip") hold what they should"
exit "$failed"
