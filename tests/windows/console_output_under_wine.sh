#!/bin/sh
# Checks every byte the exe prints under wine for a host without USB devices, and what its libusb does.
# Usage: console_output_under_wine.sh EXE [CHECK]   (under with_wine.sh; ctest -R console_output_on_host,
#   -R windows_libusb_lists_simulated_bus, -R windows_libusb_refuses_windows_xp)
# Runs the exe with the input "x\n" (kept open: the tool must end without a
# third character) and with the input at end of file, and compares every byte
# it prints with the report for a host with no USB device. Without a CHECK
# (and with wine's own processes apart), the exe's error stream must be empty.
# A CHECK turns libusb's debug log on (LIBUSB_DEBUG=4, as a user asks for
# libusb's reason) and reads what the exe's own libusb did:
#   enumerates BUS UMOCKDEV_RUN [PRELOAD_DIR]  the exe runs on the simulated
#       bus BUS, inside UMOCKDEV_RUN (with umockdev's preload taken from
#       PRELOAD_DIR, if given), in a prefix that reports Windows 10. libusb
#       must see Windows 10 (which only an exe that declares it supported
#       does), and its Windows backend must start and list each device of BUS
#       by vendor and product ID; the report stays the one for a host without
#       devices (why: EVIDENCE.md, Wine).
#   refuses-to-start  the prefix reports a Windows older than libusb supports:
#       libusb must log its version, 1.0.27 or later, libusb_init must fail
#       for that reason, and no other libusb function may run after it.
# (Run again as --until-wine-ends EXE, inside umockdev-run: runs the exe, then
# waits until every wine process has ended, while the simulated bus is still
# there; why: EVIDENCE.md, Wine.)
if [ "$1" = --until-wine-ends ]; then
    "$USBPROBE_WINE" "$2"
    status=$?
    "${USBPROBE_WINE%/*}/wineserver" -w
    exit "$status"
fi
exe=$1 mode=${2:-} bus=$3 umockdev_run=$4 preload_dir=$5
bounded=$(dirname "$0")/../support/bounded.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
. "$(dirname "$0")/../support/words.sh"
# The prompt and the report for a host without devices; under wine, text-mode
# output writes "\r\n" for each "\n".
printf "$(printf '%s' "$USBPROBE_PROMPT$USBPROBE_CLOSED" | sed 's/\\n/\\r\\n/g')" >"$work/expected"

start() { sh "$bounded" 120 "$USBPROBE_WINE" "$exe"; }
summary=
case $mode in
'') ;;
enumerates)
    export LIBUSB_DEBUG=4
    [ -x "$umockdev_run" ] || {
        echo "SKIPPED: there is no $umockdev_run. Wine's 32-bit USB driver reads the bus through the"
        echo "host's i386 libusb, so it needs umockdev's i386 preload and i386 umockdev-run (with the"
        echo "amd64 one, umockdev-run aborts on the first device request); Debian installs these only"
        echo "in place of the amd64 umockdev, and the build could not unpack them (see its configure output)"
        exit 77
    }
    start() {
        LD_LIBRARY_PATH=${preload_dir:-${LD_LIBRARY_PATH:-}} \
            sh "$bounded" 120 "$umockdev_run" --device "$bus" -- sh "$0" --until-wine-ends "$exe"
    }
    awk '/^P:/ { if (v != "") print "VID_" v "&PID_" p; v = p = "" }
         /^A: idVendor=/ { v = toupper(substr($0, 13, 4)) }
         /^A: idProduct=/ { p = toupper(substr($0, 14, 4)) }
         END { if (v != "") print "VID_" v "&PID_" p }' "$bus" | sort >"$work/on_bus"
    summary="; libusb logged its version and Windows 10, and its Windows backend started and listed $(paste -sd ' ' "$work/on_bus")"
    ;;
refuses-to-start)
    # Wine's USB driver logs through the host's libusb: keep it out of the log.
    export LIBUSB_DEBUG=4 WINEDLLOVERRIDES=wineusb.sys=d
    summary="; libusb $(sed -n 's/.*\] libusb v\([0-9.]*\)$/\1/p' "$work/err" | head -n 1) refused the old Windows in libusb_init and no libusb function ran after it"
    ;;
*)
    echo "unknown check: $mode"
    exit 1
    ;;
esac

failed=0
check() { # NAME STATUS
    if [ "$2" -ne 0 ]; then
        echo "$1: exit status $2"; failed=1
    elif ! cmp -s "$work/expected" "$work/out"; then
        echo "$1: output differs"; od -c "$work/out"; failed=1
    fi
    case $mode in
    '')
        [ ! -s "$work/err" ] || { echo "$1: wrote to its error stream:"; head -c 1000 "$work/err"; failed=1; }
        ;;
    enumerates)
        grep -qE '\[get_windows_version\] Windows 10 (32|64)-bit' "$work/err" ||
            { echo "$1: libusb did not see Windows 10: $(grep -m 1 'get_windows_version' "$work/err")"; failed=1; }
        grep -qF 'WinUSB DLL available' "$work/err" || { echo "$1: libusb's Windows backend did not start"; failed=1; }
        # Each device once, by its instance ID: USB\VID_1A86&PID_7523\<instance>.
        grep -F '[winusb_get_device_list]' "$work/err" | grep -o "'USB\\\\VID_[^']*'" | sort -u |
            sed 's/^.USB\\\([^\\]*\)\\.*/\1/' | sort >"$work/listed"
        cmp -s "$work/on_bus" "$work/listed" || {
            echo "$1: libusb's Windows backend listed [$(paste -sd ' ' "$work/listed")], the bus holds [$(paste -sd ' ' "$work/on_bus")]"
            failed=1
        }
        ;;
    refuses-to-start)
        minor=$(sed -n 's/.*\[libusb_init[a-z_]*\] libusb v1\.0\.\([0-9]*\)\..*/\1/p' "$work/err" | head -n 1)
        [ "${minor:-0}" -ge 27 ] || { echo "$1: libusb logged no version 1.0.27 or later: $(grep -m 1 'libusb v' "$work/err")"; failed=1; }
        grep -qF 'Windows version is too old' "$work/err" || { echo "$1: libusb_init did not refuse the old Windows"; failed=1; }
        later=$(grep -o '\[libusb_[a-z_]*\]' "$work/err" | grep -vxF -e '[libusb_init]' -e '[libusb_init_context]' | sort -u)
        [ -z "$later" ] || { echo "$1: after the failed libusb_init, libusb ran: $(echo "$later" | paste -sd ' ')"; failed=1; }
        ;;
    esac
}

mkfifo "$work/in"
start <"$work/in" >"$work/out" 2>"$work/err" &
run=$!
exec 3>"$work/in"
printf 'x\n' >&3
wait "$run"
check "input x and line end, kept open" $?
exec 3>&-

start </dev/null >"$work/out" 2>"$work/err"
check "input at end of file" $?

[ "$failed" -eq 0 ] && echo "both runs printed the expected $(wc -c <"$work/expected") bytes and exited with 0${summary:-, with nothing on the error stream}"
exit "$failed"
