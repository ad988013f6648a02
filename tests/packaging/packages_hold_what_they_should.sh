#!/bin/sh
# Checks that each package, .deb, zip and static .tar.gz, holds exactly what it should and passes its checks.
# Usage: packages_hold_what_they_should.sh PACKAGE...   (.deb, .zip and static .tar.gz files;
#   scripts/check runs it on the release's)
# Each .deb (one per architecture) installs the tool, its man page, README,
# copyright, changelog and example udev rule (where the README's command that
# copies the rule finds it), depends on libusb's runtime and passes lintian without error
# or warning (lintian also fails a tool built for another architecture than
# the package names); its binary passes hardening-check, and lintian names no
# missing hardening; the man page renders without warnings. Each .zip holds
# its exe, its texts (with Windows' line ends), the MIT licence, the notice and licence of the libusb
# linked into it, the terms of the compiler's runtime, a record of the
# toolchain that built it (the Debian packages of this machine, at their
# versions), libusb's source as its committed sum names it, and the tool's
# own source: exactly the files git tracks, nothing more and nothing less.
# Each static .tar.gz unpacks to the folder its name gives, holding exactly
# the file (a program), its man page (which renders), the example rule (which
# its README.txt's command copies), that text, the licence, the notice and
# the terms of what is linked in.
top=$(cd "$(dirname "$0")/../.." && pwd)
failed=0
fail() { echo "$*"; failed=1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

check_deb() {
    deb=$1
    contents=$(dpkg-deb -c "$deb") || fail "cannot read $deb"
    for path in ./usr/bin/usbprobe ./usr/share/man/man1/usbprobe.1.gz ./usr/share/doc/usbprobe/README.md \
        ./usr/share/doc/usbprobe/copyright ./usr/share/doc/usbprobe/changelog.gz \
        ./usr/share/doc/usbprobe/examples/60-usbprobe.rules; do
        echo "$contents" | grep -q " $path\$" || fail "$deb lacks $path"
    done
    dpkg-deb -f "$deb" Depends | grep -Eq '(^|, )libusb-1\.0-0( |,|$)' || fail "$deb does not depend on libusb-1.0-0"
    lintian --fail-on error,warning "$deb" 2>/dev/null || fail "lintian finds fault with $deb"
    lintian -I "$deb" 2>/dev/null | grep hardening && fail "lintian finds hardening missing in $deb"

    rm -rf "$work/deb" "$work/rules.d"
    dpkg-deb -x "$deb" "$work/deb"
    mkdir "$work/rules.d"
    { PATH=$work/deb/usr/bin:$PATH sh -c "$(echo "$rule_command" | sed "s|/etc/udev/rules.d/|$work/rules.d/|")" &&
        cmp -s "$work/rules.d/60-usbprobe.rules" "$top/doc/60-usbprobe.rules"; } ||
        fail "the README's command does not copy the rule from $deb's files: $rule_command"
    # Not its control-flow check: Debian 12's C start files carry no x86 CET
    # marking, so no binary linked there gets it unless forced (Debian's own,
    # lsusb and cmake, neither), and arm64 and armhf binaries never do.
    hardening-check --nocfprotection "$work/deb/usr/bin/usbprobe" >"$work/hardening" || { cat "$work/hardening"; fail "$deb's binary lacks hardening"; }
    man_page_renders "$work/deb/usr/share/man/man1/usbprobe.1.gz"
}

man_page_renders() {
    LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$1" >"$work/page" 2>"$work/warnings" ||
        fail "man cannot render the page"
    [ -s "$work/warnings" ] && fail "man warns: $(cat "$work/warnings")"
    for heading in NAME SYNOPSIS DESCRIPTION OUTPUT "EXIT STATUS" PERMISSIONS; do
        grep -q "^$heading\$" "$work/page" || fail "the man page has no $heading section"
    done
}

check_tgz() {
    archive=$1
    name=$(basename "$archive" .tar.gz)
    tar -tzf "$archive" | LC_ALL=C sort >"$work/members"
    for member in "" 60-usbprobe.rules COPYING.LGPL-2.1 GCC-RUNTIME-EXCEPTION.txt LICENSE NOTICE.txt README.txt \
        usbprobe usbprobe.1; do
        echo "$name/$member"
    done | LC_ALL=C sort | cmp -s - "$work/members" || fail "$archive holds other files: $(tr '\n' ' ' <"$work/members")"
    { rm -rf "$work/tgz" && mkdir "$work/tgz" && tar -xzf "$archive" -C "$work/tgz"; } || fail "cannot unpack $archive"
    cd "$work/tgz/$name" || { fail "$archive holds no folder $name"; return; }
    [ -x usbprobe ] || fail "$archive's usbprobe is no program one may run"
    grep -q '^MIT License' LICENSE || fail "$archive's LICENSE is not the project's MIT licence"
    rule=$(sed -n 's|^  \(cp 60-usbprobe\.rules /etc/udev/rules\.d/\)$|\1|p' README.txt)
    { mkdir "$work/tgz/rules.d" && [ -n "$rule" ] && sh -c "$(echo "$rule" | sed "s|/etc/udev/rules.d/|$work/tgz/rules.d/|")" &&
        cmp -s "$work/tgz/rules.d/60-usbprobe.rules" "$top/doc/60-usbprobe.rules"; } ||
        fail "$archive's README.txt gives no command that copies its rule"
    man_page_renders usbprobe.1
}

(cd "$top" && git ls-files | LC_ALL=C sort) >"$work/tracked"
check_zip() {
    zip=$1
    { rm -rf "$work/zip" && unzip -q "$zip" -d "$work/zip"; } || fail "cannot unpack $zip"
    cd "$work/zip"/* || { fail "$zip holds no folder"; return; }
    for name in usbprobe.exe README.txt LICENSE.txt NOTICE.txt libusb-COPYING.txt mingw-w64-COPYING.txt \
        source/usbprobe-*/CMakeLists.txt; do
        [ -f "$name" ] || fail "$zip lacks $name"
    done
    for text in *.txt; do
        [ "$(grep -c "$(printf '\r')\$" "$text")" = "$(wc -l <"$text")" ] || fail "$zip's $text has lines without Windows' line end"
    done
    { grep -q '^MIT License' LICENSE.txt && grep -q 'Copyright (c) 2026 the usbprobe developers' LICENSE.txt; } ||
        fail "LICENSE.txt is not the project's MIT licence"
    grep -q 'GNU LESSER GENERAL PUBLIC LICENSE' libusb-COPYING.txt || fail "libusb-COPYING.txt is not the LGPL"
    case $zip in *-win32.zip) triplet=i686 ;; *) triplet=x86-64 ;; esac
    tr -d '\r' <NOTICE.txt | sed -n '/^versions, which built it:$/,/^Other versions/s/^  \([^ ]*\) \([^ ]*\)$/\1 \2/p' >"$work/toolchain"
    for package in binutils-mingw-w64-$triplet g++-mingw-w64-$triplet-posix mingw-w64-$triplet-dev; do
        grep -q "^$package " "$work/toolchain" || fail "NOTICE.txt does not record the version of $package"
    done
    while read -r package version; do
        [ "$(dpkg-query -W -f='${Version}' "$package" 2>/dev/null)" = "$version" ] ||
            fail "NOTICE.txt records $package $version, this machine has ${package}: $(dpkg-query -W -f='${Version}' "$package" 2>&1)"
    done <"$work/toolchain"
    tarball=$(ls source/libusb/*.orig.tar.*) || fail "$zip lacks libusb's source"
    { tr -d '\r' <NOTICE.txt | grep -q "libusb 1\.0\.[0-9]*," && tr -d '\r' <NOTICE.txt | grep -q "$(basename "$tarball")"; } ||
        fail "NOTICE.txt does not name libusb's version and source"
    (cd source/libusb && sha256sum "$(basename "$tarball")") | cmp -s - "$top/cmake/libusb.sha256" ||
        fail "$zip's source/libusb is not the libusb source the committed sum names"
    (cd source/usbprobe-*/ && find . -type f | sed 's|^\./||' | LC_ALL=C sort | diff "$work/tracked" -) ||
        fail "$zip's source is not the files git tracks (< only tracked, > only shipped)"
    while read -r file; do
        cmp -s "$top/$file" source/usbprobe-*/"$file" || fail "$zip's source/$file differs from the tree's"
    done <"$work/tracked"
}

# The README's command that copies the example rule, less its sudo.
rule_command=$(sed -n 's|^sudo \(cp .*60-usbprobe\.rules" /etc/udev/rules\.d/\)$|\1|p' "$top/README.md")
[ -n "$rule_command" ] || fail "the README gives no command that copies the example rule"
here=$(pwd)
for package in "$@"; do
    cd "$here" || exit
    case $package in
    *.deb) check_deb "$package" ;;
    *.zip) check_zip "$package" ;;
    *-linux-*.tar.gz) check_tgz "$package" ;;
    *) fail "$package is neither a .deb, nor a .zip, nor a static .tar.gz" ;;
    esac
done

[ "$failed" -eq 0 ] && echo "$* hold what they should"
exit "$failed"
