#!/bin/sh
# Usage: console_output_under_wine.sh EXE   (under with_wine.sh)
# Runs the exe with the input "x\n" (kept open: the tool must end without a
# third character) and with the input at end of file, and compares every byte
# it prints with the report for a host with no USB device.
exe=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '\r\nTaste druecken fuer Pruefung ob 1A86:7523 offen ist.\r\n\r\nHANDLE_WERT: 0 ... geschlossen' >"$work/expected"

failed=0
check() { # NAME STATUS
    if [ "$2" -ne 0 ]; then
        echo "$1: exit status $2"; failed=1
    elif ! cmp -s "$work/expected" "$work/out"; then
        echo "$1: output differs"; od -c "$work/out"; failed=1
    fi
}

mkfifo "$work/in"
timeout 60 "$USBPROBE_WINE" "$exe" <"$work/in" >"$work/out" 2>"$work/err" &
run=$!
exec 3>"$work/in"
printf 'x\n' >&3
wait "$run"
check "input x and line end, kept open" $?
exec 3>&-

timeout 60 "$USBPROBE_WINE" "$exe" </dev/null >"$work/out" 2>"$work/err"
check "input at end of file" $?

[ "$failed" -eq 0 ] && echo "both runs printed the expected $(wc -c <"$work/expected") bytes and exited with 0"
exit "$failed"
