#!/bin/sh
# Runs a command with wine in a prefix, making the prefix first where it is missing or stale.
# Usage: in_wine_prefix.sh WINDOWS SERVICES COMMAND [ARGUMENT...]
#   (with USBPROBE_WINE, WINEPREFIX and WINEARCH set; with_wine.sh runs it,
#   on this machine or in a virtual machine, and holds the prefix's lock)
# The prefix records, in wine-version, `wine --version` of the wine that made
# it: a newer wine would rewrite it on its first start, so it is made again.
# WINDOWS is the Windows version the prefix reports (winxp), or "default".
# SERVICES says who starts wine's own processes (services.exe, the device
# drivers, explorer...), which inherit the standard streams of the process
# that starts them:
#   first  the first wine process of COMMAND, inside whatever it runs in (a
#          simulated bus, say); its error stream holds their messages too.
#   apart  this script, before COMMAND, with their streams into a log of its
#          own, shown after COMMAND; the wineserver stays up until COMMAND ends.
# At the end every wine process of the prefix has ended: a wineserver started
# inside a simulated bus must not outlive it.
wine=$USBPROBE_WINE windows=$1 services=$2
shift 2
wineserver=${wine%/*}/wineserver
stamp=$WINEPREFIX/wine-version

if ! version=$("$wine" --version 2>&1) || [ "${version#wine-}" = "$version" ]; then
    echo "$wine does not run: $version"
    exit 1
fi
# report_windows PREFIX: makes PREFIX report the Windows asked for.
report_windows() {
    [ "$windows" = default ] || grep -qsx "\"Version\"=\"$windows\"" "$1/user.reg" ||
        WINEPREFIX=$1 "$wine" reg add 'HKCU\Software\Wine' /v Version /d "$windows" /f >/dev/null 2>&1
}
made_by=$(cat "$stamp" 2>/dev/null)
if [ "$made_by" != "$version" ] && [ -n "${USBPROBE_WINEPREFIX_BASE:-}" ]; then
    echo "the wine prefix $WINEPREFIX, a copy of $USBPROBE_WINEPREFIX_BASE, was made by ${made_by:-no wine}, not by $version"
    exit 1
elif [ "$made_by" != "$version" ]; then
    [ -z "$made_by" ] || echo "the wine prefix $WINEPREFIX, made by $made_by, is made again by $version"
    new=$WINEPREFIX.new
    # Without wine's .NET and HTML engines, which it would offer to download.
    {
        rm -rf "$new" && WINEPREFIX=$new WINEDLLOVERRIDES="mscoree,mshtml=" "$wine" wineboot --init >/dev/null 2>&1 &&
            report_windows "$new" && WINEPREFIX=$new "$wineserver" -w && echo "$version" >"$new/wine-version" &&
            rm -rf "$WINEPREFIX" && mv -T "$new" "$WINEPREFIX"
    } || { echo "cannot make the wine prefix $WINEPREFIX"; exit 1; }
fi
report_windows "$WINEPREFIX" || { echo "cannot make the wine prefix $WINEPREFIX report $windows"; exit 1; }
"$wineserver" -w
if [ "$services" = apart ]; then
    log=$(mktemp)
    trap 'rm -f "$log"' EXIT
    # Up 30 s after the last exe ends, or until ended below; its first
    # process starts the services, as the first exe would.
    "$wineserver" -p30
    "$wine" winepath "C:\\" >"$log" 2>&1 </dev/null
fi
status=0
"$@" || status=$?
[ "$services" != apart ] || "$wineserver" -k
"$wineserver" -w
[ "$services" != apart ] || [ ! -s "$log" ] || { echo "wine's own processes wrote, apart from the exes:"; cat "$log"; }
exit "$status"
