#!/bin/sh
# Usage: with_wine.sh WINE PREFIX WINEARCH WINDOWS SERVICES COMMAND [ARGUMENT...]
# Runs COMMAND with USBPROBE_WINE naming the wine loader that starts our exes,
# in the wine prefix PREFIX of the kind WINEARCH (win64 or win32), made on
# first use, and made again when another wine version made it (each prefix
# records `wine --version`: a newer wine would rewrite it on its first start).
# WINDOWS is the Windows version the prefix reports, as wine names it (winxp),
# or "default" for wine's own.
# Every build tree and test run of a checkout shares the prefixes. One run at a
# time uses a prefix, whichever tree it comes from: it holds PREFIX.lock
# (flock), and so do wine's processes, which inherit it, until they end; so no
# run meets another's wineserver. A prefix is made beside its place and renamed
# into it, whole or not at all.
# USBPROBE_WINEPREFIX_BASE, if set, names the prefix (made with win10 or wine's
# default Windows) that PREFIX is a copy of, which reports the Windows asked
# for: wine's start in a new prefix takes minutes under emulation. The copy
# shares with the base, by hard links, the trees of DLLs and programs that wine
# only reads, and the record of the wine that made them; the rest, which wine
# writes (its registry, say), is its own. A base made again is copied again.
# USBPROBE_WINEPREFIX_WOW64, if set, names a 64-bit prefix: a 32-bit prefix
# made here shares, by hard links, every DLL and program that the 64-bit one
# holds with the same bytes for its 32-bit side (its syswow64).
# Wine must never write into a file that two prefixes share: a run that finds
# one newer than the prefix fails.
# SERVICES says who starts wine's own processes (services.exe, the device
# drivers, explorer...), which inherit the standard streams of the process
# that starts them and write into them until the wineserver ends:
#   first  the first wine process of COMMAND, inside whatever it runs in (a
#          simulated bus, say); its error stream holds their messages too.
#   apart  this script, before COMMAND, with their streams into a log of its
#          own, and the wineserver kept up until COMMAND ends: then an exe's
#          error stream holds only what that exe writes, and wine's own
#          processes start and stop once, not for every exe. What they
#          reported is shown, and does not make the test fail.
# A 32-bit loader needs a machine that executes 32-bit x86 code. Where this
# one cannot (its kernel logs "32-bit emulation disabled"), or where
# USBPROBE_EMULATE_32BIT_X86=1 asks to act as if, the whole of this script
# after the lock and the copy runs in a virtual machine on Debian's amd64
# kernel (tests/support/in_debian_vm.sh, its kernel cached in
# USBPROBE_GUEST_CACHE_DIR), with the prefixes' folder shared writable. It says
# which way wine ran, and how long that took.
# Every test has a wineserver of its own, started by its first wine process and
# waited for at the end: one started inside umockdev-run gives wine's USB
# driver that simulated bus, and must not serve the next test.
wine=$1 windows=$4 services=$5
export USBPROBE_WINE="$1" WINEPREFIX="$2" WINEARCH="$3" WINEDEBUG=-all
base=${USBPROBE_WINEPREFIX_BASE:-} wow64=${USBPROBE_WINEPREFIX_WOW64:-}
# In each prefix: the output of `wine --version` of the wine that made it.
stamp=wine-version
started=$(date +%s)

if [ ! -x "$wine" ]; then
    echo "no wine loader at $wine: run scripts/install-deps test"
    exit 1
fi
# put_in_place NEW: NEW, made whole beside the prefix, becomes the prefix.
put_in_place() {
    rm -rf "$WINEPREFIX.old" && { [ ! -e "$WINEPREFIX" ] || mv -T "$WINEPREFIX" "$WINEPREFIX.old"; } &&
        mv -T "$1" "$WINEPREFIX" && rm -rf "$WINEPREFIX.old"
}
# shared_files_written: lists the files the prefix shares with another that
# are newer than the prefix.
shared_files_written() {
    [ ! -f "$WINEPREFIX/$stamp" ] || find "$WINEPREFIX" -type f -links +1 -newer "$WINEPREFIX/$stamp"
}
check_shared_files() { # STATUS: the test's, or 1 if wine wrote into a shared file
    written=$(shared_files_written)
    [ -z "$written" ] || { echo "wine wrote into files that the prefix shares with another:"; echo "$written"; return 1; }
    return "$1"
}
# share_wow64_files PREFIX: in the 32-bit PREFIX, made by this wine, each file
# of the DLL trees that the 64-bit prefix holds with the same bytes, from
# before PREFIX was made, becomes a link to that one. On this machine, not in
# a virtual machine, where it takes minutes.
share_wow64_files() {
    [ -n "$wow64" ] && [ -z "$base" ] && [ -f "$1/$stamp" ] && [ -d "$wow64/drive_c/windows/syswow64" ] || return 0
    (cd "$1/drive_c/windows" && find system32 winsxs -type f) | while IFS= read -r file; do
        case $file in
        system32/*) theirs=$wow64/drive_c/windows/syswow64/${file#system32/} ;;
        *) theirs=$wow64/drive_c/windows/$file ;;
        esac
        ours=$1/drive_c/windows/$file
        [ ! "$ours" -ef "$theirs" ] && [ ! "$theirs" -nt "$1/$stamp" ] || continue
        # Linked, then compared: the file compared is the one linked.
        [ -f "$theirs" ] && ln "$theirs" "$ours.shared" 2>/dev/null || continue
        if cmp -s "$ours" "$ours.shared"; then mv -f "$ours.shared" "$ours" || exit; else rm -f "$ours.shared"; fi
    done
}
if [ -z "${USBPROBE_IN_DEBIAN_VM:-}" ]; then
    # The lock first, then the copy, unless it has one of this base: the copy
    # shares the base's record of the wine that made it.
    mkdir -p "$(dirname "$WINEPREFIX")"
    exec 9>>"$WINEPREFIX.lock"
    flock -n 9 || { echo "waiting for another run in the wine prefix $WINEPREFIX"; flock 9; } ||
        { echo "cannot lock $WINEPREFIX.lock"; exit 1; }
    if [ -n "$base" ] && [ ! "$base/$stamp" -ef "$WINEPREFIX/$stamp" ]; then
        exec 8>>"$base.lock"
        flock 8 || { echo "cannot lock $base.lock"; exit 1; }
        [ -f "$base/$stamp" ] || { echo "no wine prefix at $base to copy"; exit 1; }
        new=$WINEPREFIX.new
        rm -rf "$new" && cp -al "$base" "$new" &&
            (cd "$new" && find . -type f ! -path './drive_c/windows/system32/*' ! -path './drive_c/windows/syswow64/*' \
                ! -path './drive_c/windows/winsxs/*' ! -path "./$stamp" -exec sh -c 'for f; do cp -p "$f" "$f.own" && mv "$f.own" "$f" || exit; done' sh {} +) &&
            sed -i '/^"Version"="[a-z0-9]*"$/d' "$new/user.reg" &&
            if [ "$windows" != default ]; then printf '\n[Software\\\\Wine]\n"Version"="%s"\n' "$windows" >>"$new/user.reg"; fi &&
            put_in_place "$new" || { echo "cannot copy the wine prefix $base"; exit 1; }
        exec 8>&-
    fi
fi
if [ "$(od -An -tx1 -j4 -N1 "$wine" | tr -d ' ')" = 01 ] && [ -z "${USBPROBE_IN_DEBIAN_VM:-}" ]; then
    why=
    if [ "${USBPROBE_EMULATE_32BIT_X86:-}" = 1 ]; then
        why="USBPROBE_EMULATE_32BIT_X86=1 acts as if this machine could not execute 32-bit x86 code"
    elif ! version=$("$wine" --version 2>&1); then
        why="this machine cannot execute 32-bit x86 code, so not the 32-bit wine loader $wine either ($version)"
    fi
    if [ -n "$why" ]; then
        echo "wine: in a virtual machine: $why"
        USBPROBE_IN_DEBIAN_VM=1 sh "$(dirname "$0")/../support/in_debian_vm.sh" "$USBPROBE_GUEST_CACHE_DIR" \
            "$(dirname "$WINEPREFIX")" -- sh "$0" "$@" 2>&1
        status=$?
        share_wow64_files "$WINEPREFIX" || { echo "cannot share the files of $wow64 in $WINEPREFIX"; status=1; }
        check_shared_files $status
        status=$?
        echo "wine: ran in a virtual machine in $(($(date +%s) - started)) s"
        exit $status
    fi
fi
shift 5
wineserver=${wine%/*}/wineserver
if ! version=$("$wine" --version 2>&1) || [ "${version#wine-}" = "$version" ]; then
    echo "$wine does not run: $version"
    exit 1
fi
# report_windows PREFIX: makes PREFIX report the Windows asked for.
report_windows() {
    [ "$windows" = default ] || grep -qsx "\"Version\"=\"$windows\"" "$1/user.reg" ||
        WINEPREFIX=$1 "$wine" reg add 'HKCU\Software\Wine' /v Version /d "$windows" /f >/dev/null 2>&1
}
made_by=$(cat "$WINEPREFIX/$stamp" 2>/dev/null)
if [ "$made_by" != "$version" ] && [ -n "$base" ]; then
    echo "the wine prefix $WINEPREFIX, a copy of $base, was made by ${made_by:-no wine}, not by $version"
    exit 1
elif [ "$made_by" != "$version" ]; then
    [ -z "$made_by" ] || echo "the wine prefix $WINEPREFIX, made by $made_by, is made again by $version"
    new=$WINEPREFIX.new
    # Without wine's .NET and HTML engines, which it would offer to download.
    rm -rf "$new" && WINEPREFIX=$new WINEDLLOVERRIDES="mscoree,mshtml=" "$wine" wineboot --init >/dev/null 2>&1 &&
        report_windows "$new" && WINEPREFIX=$new "$wineserver" -w &&
        echo "$version" >"$new/$stamp" && { [ -n "${USBPROBE_IN_DEBIAN_VM:-}" ] || share_wow64_files "$new"; } &&
        put_in_place "$new" || { echo "cannot make the wine prefix $WINEPREFIX"; exit 1; }
fi
report_windows "$WINEPREFIX" || { echo "cannot make the wine prefix $WINEPREFIX report $windows"; exit 1; }
"$wineserver" -w
if [ "$services" = apart ]; then
    log=$(mktemp)
    trap 'rm -f "$log"' EXIT
    # Up 30 s after the last exe ends, or until killed below; its first
    # process starts the services, as the first exe would.
    "$wineserver" -p30
    "$wine" winepath 'C:\' >"$log" 2>&1 </dev/null
fi
"$@"
status=$?
if [ "$services" = apart ]; then
    "$wineserver" -k
    "$wineserver" -w
    [ -s "$log" ] && { echo "wine's own processes wrote, apart from the exes:"; cat "$log"; }
else
    "$wineserver" -w
fi
[ -n "${USBPROBE_IN_DEBIAN_VM:-}" ] && exit "$status"
check_shared_files "$status"
status=$?
echo "wine: ran natively in $(($(date +%s) - started)) s"
exit "$status"
