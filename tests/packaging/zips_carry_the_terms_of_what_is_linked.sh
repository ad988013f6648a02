#!/bin/sh
# Usage: zips_carry_the_terms_of_what_is_linked.sh WINDOWS_BUILD_DIR...
# Reads the link map of each Windows build's exe and sorts every object and
# archive member linked into it by the terms it is under: the tool's own
# (MIT), libusb (LGPL), the mingw-w64 runtime (ZPL 2.1, by default), gdtoa
# (Lucent and David M. Gay), Keith Marshall's printf (free, no notice asked),
# and GCC's runtime (runtime exception). The zip the build packed must hold
# that exe and carry the text of every one of those terms. A member under any
# other terms, or one from a file no known package or build holds, fails.
# Which mingw-w64 file is under which terms is as the copyright file of
# Debian's mingw-w64-common (10.0.0-3) says; members are named after their
# source file, without its folder.
failed=0
fail() { echo "$*"; failed=1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

gdtoa=" arithchk dmisc dtoa g__fmt g_dfmt g_ffmt g_xfmt gdtoa gethex gmisc hd_init hexnan misc qnan smisc strtodg strtodnrp strtof strtopx sum ulp "
keith_marshall=" basename dirname mingw_fprintf mingw_pformat mingw_printf mingw_snprintf mingw_sprintf mingw_vfprintf mingw_vprintf mingw_vsnprintf mingw_vsprintf "
other_terms=" s_erf sf_erf e_fmod e_fmodf e_pow e_powf e_remainder e_remainderf getopt gcrt0 profil gmon mcount strtok_r "

for tree in "$@"; do
    tree=$(cd "$tree" && pwd)
    zip=$(ls "$tree"/usbprobe-*-win*.zip 2>/dev/null | head -n 1)
    [ -f "$tree/usbprobe.map" ] && [ -n "$zip" ] || { fail "$tree holds no link map or no zip"; continue; }
    name=$(basename "$zip" .zip)
    rm -rf "$work/zip" && unzip -q "$zip" -d "$work/zip"
    texts=$work/zip/$name
    cmp -s "$texts/usbprobe.exe" "$tree/usbprobe.exe" || { fail "$zip holds another exe than the map describes"; continue; }

    # One line per linked input: FILE MEMBER (MEMBER "-" for a plain object).
    (cd "$tree" && awk '
        /^Archive member included/ { members = 1; next }
        /^Discarded input sections/ { members = 0 }
        members && /^[^ ].*\(.*\)$/ { i = index($0, "("); print substr($0, 1, i - 1), substr($0, i + 1, length($0) - i - 1) }
        /^LOAD .*\.o$/ { print $2, "-" }' usbprobe.map |
        while read -r file member; do echo "$(realpath "$file") $member"; done) | sort -u >"$work/linked"

    : >"$work/terms"
    for file in $(cut -d' ' -f1 "$work/linked" | sort -u); do
        case $file in
        "$tree"/CMakeFiles/usbprobe.dir/*) owner=usbprobe ;;
        */build/deps/libusb-*/lib/libusb-1.0.a) owner=libusb ;;
        *) owner=$(dpkg-query -S "$file" 2>/dev/null | sed 's/[:,].*//') ;;
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
            *) echo "unknown: $member of $file (${owner:-no package})" ;;
            esac
        done >>"$work/terms"
    done

    carries() { # TERMS FILE TEXT
        grep -q "^$1\$" "$work/terms" || return 0
        tr -d '\r' <"$texts/$2" | grep -qF "$3" || fail "$zip links $1 code, but its $2 lacks \"$3\""
    }
    carries usbprobe LICENSE.txt 'MIT License'
    carries libusb libusb-COPYING.txt 'GNU LESSER GENERAL PUBLIC LICENSE'
    carries libusb NOTICE.txt 'is linked statically with libusb'
    carries mingw-w64 mingw-w64-COPYING.txt 'Zope Public License (ZPL) Version 2.1'
    carries mingw-w64 mingw-w64-COPYING.txt 'Copyright (c) 2009-2016 the mingw-w64 project'
    carries gdtoa mingw-w64-COPYING.txt 'Copyright (C) 1997-2001 Lucent Technologies'
    carries gdtoa mingw-w64-COPYING.txt 'Copyright (C) 2004, 2005 David M. Gay'
    carries keith-marshall mingw-w64-COPYING.txt 'Written by Keith Marshall'
    carries gcc-runtime mingw-w64-COPYING.txt 'GCC Runtime Library Exception'
    grep -E '^(other|unknown):' "$work/terms" | while read -r line; do echo "$zip: terms not carried: $line"; done
    grep -qE '^(other|unknown):' "$work/terms" && failed=1
    echo "$name: $(wc -l <"$work/terms") linked inputs, by terms:" $(sort "$work/terms" | uniq -c | awk '{ print $2 " " $1 }' | paste -sd, -)
done
[ "$failed" -eq 0 ] && echo "every zip carries the terms of everything linked into its exe"
exit "$failed"
