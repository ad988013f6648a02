#!/bin/sh
# Checks that each zip and static .tar.gz carries the terms of everything linked into its file.
# Usage: files_carry_the_terms_of_what_is_linked.sh RELEASE_DIR BUILD_DIR...
#   (scripts/check runs it where each build was made: in the system of its release)
# Reads the link map of each build's one file (a Windows exe, or a static Linux file) and sorts
# every object and archive member linked into it by the terms it is under: the tool's own (MIT),
# libusb (LGPL), the GNU C library (LGPL), the mingw-w64 runtime (ZPL 2.1, by default), gdtoa
# (Lucent and David M. Gay), Keith Marshall's printf (free, no notice asked), and GCC's runtime
# (runtime exception). The zip or .tar.gz the build packed must hold that file and carry the
# text of every one of those terms. A member under any other terms, or one from a file no known
# package or build holds, fails: the cross compiler's own copy of the C library too, whose
# source the release does not hold. A static file's notice must name the C library linked, and
# RELEASE_DIR/source must hold that glibc's source (Debian's glibc-source package of that
# version: the upstream tarball and Debian's patches) and libusb's tarball with the sum in
# cmake/libusb.sha256. Which mingw-w64 file is under which terms is as the copyright file of
# Debian's mingw-w64-common (10.0.0-3) says; members are named after their source file, without
# its folder.
failed=0
fail() { echo "$*"; failed=1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

gdtoa=" arithchk dmisc dtoa g__fmt g_dfmt g_ffmt g_xfmt gdtoa gethex gmisc hd_init hexnan misc qnan smisc strtodg strtodnrp strtof strtopx sum ulp "
keith_marshall=" basename dirname mingw_fprintf mingw_pformat mingw_printf mingw_snprintf mingw_sprintf mingw_vfprintf mingw_vprintf mingw_vsnprintf mingw_vsprintf "
other_terms=" s_erf sf_erf e_fmod e_fmodf e_pow e_powf e_remainder e_remainderf getopt gcrt0 profil gmon mcount strtok_r "

release=$(cd "$1" && pwd)
shift
top=$(cd "$(dirname "$0")/../.." && pwd)

for tree in "$@"; do
    tree=$(cd "$tree" && pwd)
    zip=
    for candidate in "$tree"/usbprobe-*-win*.zip "$tree"/usbprobe-*-linux-*.tar.gz; do
        [ -f "$candidate" ] && zip=$candidate && break
    done
    { [ -f "$tree/usbprobe.map" ] && [ -n "$zip" ]; } || { fail "$tree holds no link map or no package"; continue; }
    rm -rf "$work/zip" && mkdir "$work/zip"
    case $zip in
    *.zip) name=$(basename "$zip" .zip) program=usbprobe.exe && unzip -q "$zip" -d "$work/zip" ;;
    *) name=$(basename "$zip" .tar.gz) program=usbprobe && tar -xzf "$zip" -C "$work/zip" ;;
    esac
    texts=$work/zip/$name
    cmp -s "$texts/$program" "$tree/$program" || { fail "$zip holds another $program than the map describes"; continue; }
    [ "$program" = usbprobe.exe ] || [ -x "$texts/$program" ] || fail "$zip holds $program, but not as a program one may run"

    # One line per linked input: FILE MEMBER (MEMBER "-" for a plain object).
    (cd "$tree" && awk '
        /^Archive member included/ { members = 1; next }
        /^Discarded input sections/ { members = 0 }
        members && /^[^ ]+\([^ ]*\)$/ { i = index($0, "("); print substr($0, 1, i - 1), substr($0, i + 1, length($0) - i - 1) }
        /^LOAD .*\.o$/ { print $2, "-" }' usbprobe.map |
        while read -r file member; do echo "$(realpath "$file") $member"; done) | sort -u >"$work/linked"

    : >"$work/terms"
    cut -d' ' -f1 "$work/linked" | sort -u | while read -r file; do
        case $file in
        "$tree"/CMakeFiles/usbprobe.dir/*) owner=usbprobe ;;
        */build/deps/libusb-*/lib/libusb-1.0.a) owner=libusb ;;
        *) owner=$(dpkg-query -S "$file" 2>/dev/null | sed 's/: .*//; s/,.*//') ;;
        esac
        grep "^$file " "$work/linked" | while read -r _ member; do
            stem=$(echo "$member" | sed 's/^lib\(32\|64\)_lib[a-z0-9_]*_a-//; s/\.o$//')
            case $owner in
            usbprobe | libusb) echo "$owner" ;;
            mingw-w64-*-dev)
                case $gdtoa in *" $stem "*) echo gdtoa; continue ;; esac
                case $keith_marshall in *" $stem "*) echo keith-marshall; continue ;; esac
                case $other_terms in *" $stem "*) echo "other: $member of $file" ; continue ;; esac
                echo mingw-w64 ;;
            gcc-mingw-w64-* | g++-mingw-w64-*) echo gcc-runtime ;;
            libgcc-*-dev* | libstdc++-*-dev*) echo gcc-runtime ;;
            libc6-dev:*) echo "glibc $(dpkg-query -W -f='${source:Package} ${source:Version}' "$owner")" ;;
            *) echo "unknown: $member of $file (${owner:-no package})" ;;
            esac
        done >>"$work/terms"
    done

    carries() { # TERMS FILE TEXT
        grep -q "^$1\$" "$work/terms" || return 0
        tr -d '\r' <"$texts/$2" | grep -qF "$3" || fail "$zip links $1 code, but its $2 lacks \"$3\""
    }
    if [ "$program" = usbprobe.exe ]; then
        carries usbprobe LICENSE.txt 'MIT License'
        carries libusb libusb-COPYING.txt 'GNU LESSER GENERAL PUBLIC LICENSE'
        carries libusb NOTICE.txt 'is linked statically with libusb'
        carries mingw-w64 mingw-w64-COPYING.txt 'Zope Public License (ZPL) Version 2.1'
        carries mingw-w64 mingw-w64-COPYING.txt 'Copyright (c) 2009-2016 the mingw-w64 project'
        carries gdtoa mingw-w64-COPYING.txt 'Copyright (C) 1997-2001 Lucent Technologies'
        carries gdtoa mingw-w64-COPYING.txt 'Copyright (C) 2004, 2005 David M. Gay'
        carries keith-marshall mingw-w64-COPYING.txt 'Written by Keith Marshall'
        carries gcc-runtime mingw-w64-COPYING.txt 'GCC Runtime Library Exception'
    else
        carries usbprobe LICENSE 'MIT License'
        carries libusb COPYING.LGPL-2.1 'GNU LESSER GENERAL PUBLIC LICENSE'
        carries gcc-runtime GCC-RUNTIME-EXCEPTION.txt 'GCC RUNTIME LIBRARY EXCEPTION'
        # The C library: one Debian glibc, the one the notice names, whose
        # source the release holds as its .dsc gives it.
        glibc=$(sed -n 's/^glibc glibc //p' "$work/terms" | sort -u)
        [ "$(echo "$glibc" | wc -w)" -eq 1 ] || fail "$name links the C library of glibc ${glibc:-of no Debian package}"
        sed 's/^glibc .*/glibc/' "$work/terms" >"$work/terms.sorted" && mv "$work/terms.sorted" "$work/terms"
        carries glibc COPYING.LGPL-2.1 'GNU LESSER GENERAL PUBLIC LICENSE'
        carries glibc NOTICE.txt "glibc, version $glibc."
        source=$release/source/glibc-source_${glibc}_all.deb
        dpkg-deb -c "$source" >"$work/source.list" 2>/dev/null
        { [ "$(dpkg-deb -f "$source" Package Version 2>/dev/null | tr '\n' ' ')" = "Package: glibc-source Version: $glibc " ] &&
            grep -q ' ./usr/src/glibc/glibc-[0-9.]*\.tar\.xz$' "$work/source.list" &&
            grep -q ' ./usr/src/glibc/debian/patches/series$' "$work/source.list"; } ||
            fail "the release's source/ has no glibc-source $glibc with the upstream tarball and Debian's patches, for $name's C library"
        (cd "$release/source" && sha256sum -c --quiet "$top/cmake/libusb.sha256") ||
            fail "the release's source/ lacks libusb's tarball, or it differs from cmake/libusb.sha256"
    fi
    grep -E '^(other|unknown):' "$work/terms" | while read -r line; do echo "$zip: terms not carried: $line"; done
    grep -qE '^(other|unknown):' "$work/terms" && failed=1
    by_terms=$(sort "$work/terms" | uniq -c | awk '{ print $2 " " $1 }' | paste -sd, -)
    echo "$name: $(wc -l <"$work/terms") linked inputs, by terms:${by_terms:+ $by_terms}"
done
[ "$failed" -eq 0 ] && echo "every package carries the terms of everything linked into its file"
exit "$failed"
