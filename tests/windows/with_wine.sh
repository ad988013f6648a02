#!/bin/sh
# Usage: with_wine.sh WINE PREFIX WINEARCH WINDOWS SERVICES COMMAND [ARGUMENT...]
# Runs COMMAND with USBPROBE_WINE naming the wine loader that starts our exes,
# in a wine prefix of the kind WINEARCH (win64 or win32), made on first use.
# WINDOWS is the Windows version the prefix reports, as wine names it (winxp),
# or "default" for wine's own.
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
# USBPROBE_EMULATE_32BIT_X86=1 asks to act as if, the whole of this script runs
# in a virtual machine on Debian's amd64 kernel (tests/support/in_debian_vm.sh,
# its kernel cached in USBPROBE_GUEST_CACHE_DIR), with the prefix's folder
# shared writable. It says which way wine ran, and how long that took.
# Every test has a wineserver of its own, started by its first wine process and
# waited for at the end: one started inside umockdev-run gives wine's USB
# driver that simulated bus, and must not serve the next test.
wine=$1 windows=$4 services=$5
export USBPROBE_WINE="$1" WINEPREFIX="$2" WINEARCH="$3" WINEDEBUG=-all
started=$(date +%s)

if [ ! -x "$wine" ]; then
    echo "no wine loader at $wine: run scripts/install-deps test"
    exit 1
fi
# A prefix made from another (USBPROBE_WINEPREFIX_BASE, made with wine's
# default Windows or with win10) is a copy of it, which reports the Windows
# asked for: wine's start in a new prefix takes minutes under emulation.
base=${USBPROBE_WINEPREFIX_BASE:-}
if [ -n "$base" ] && [ ! -f "$WINEPREFIX/system.reg" ]; then
    [ -f "$base/system.reg" ] || { echo "no wine prefix at $base to copy"; exit 1; }
    rm -rf "$WINEPREFIX.new" && cp -a "$base" "$WINEPREFIX.new" &&
        sed -i '/^"Version"="[a-z0-9]*"$/d' "$WINEPREFIX.new/user.reg" &&
        if [ "$windows" != default ]; then printf '\n[Software\\\\Wine]\n"Version"="%s"\n' "$windows" >>"$WINEPREFIX.new/user.reg"; fi &&
        mv "$WINEPREFIX.new" "$WINEPREFIX" || { echo "cannot copy the wine prefix $base"; exit 1; }
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
        mkdir -p "$WINEPREFIX"
        USBPROBE_IN_DEBIAN_VM=1 sh "$(dirname "$0")/../support/in_debian_vm.sh" "$USBPROBE_GUEST_CACHE_DIR" \
            "$(dirname "$WINEPREFIX")" -- sh "$0" "$@" 2>&1
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
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    # Without wine's .NET and HTML engines, which it would offer to download.
    WINEDLLOVERRIDES="mscoree,mshtml=" "$wine" wineboot --init >/dev/null 2>&1 ||
        { echo "cannot make the wine prefix $WINEPREFIX"; exit 1; }
fi
if [ "$windows" != default ] && ! grep -qx "\"Version\"=\"$windows\"" "$WINEPREFIX/user.reg"; then
    "$wine" reg add 'HKCU\Software\Wine' /v Version /d "$windows" /f >/dev/null 2>&1 ||
        { echo "cannot make the wine prefix $WINEPREFIX report $windows"; exit 1; }
fi
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
[ -n "${USBPROBE_IN_DEBIAN_VM:-}" ] || echo "wine: ran natively in $(($(date +%s) - started)) s"
exit "$status"
