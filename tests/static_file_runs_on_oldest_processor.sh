#!/bin/sh
# Checks that the static file is one self-contained file that runs on the oldest processor of its family.
# Usage: static_file_runs_on_oldest_processor.sh QEMU_USER CPU TOOL   (ctest -R StaticFileRunsOnOldestProcessor)
# The file must be one static file: no program interpreter, no shared library, stripped, at most
# 1 MiB; for 32-bit ARM, its attributes name no architecture newer than CPU's (ARMv6 for the
# ARM1176; why: EVIDENCE.md, Static files). Then it runs under qemu-user as the oldest processor
# of its family, CPU: an instruction of a newer one ends it there ("Illegal instruction").
# The input "\n\n" answers both waits. Where this machine has no USB (no
# /sys/bus/usb), libusb cannot start, and every byte must be those of a bus
# without devices: the prompt and "closed". Where it has, the list's lines
# come first, and the rest must be the same (skipped with the bridge there).
set -u
qemu=$1 cpu=$2 tool=$3
here=$(dirname "$0")
. "$here/support/words.sh"
. "$here/support/verdicts.sh"
run=$(mktemp -d)
trap 'rm -rf "$run"' EXIT

headers=$(readelf -lW "$tool") || fail "$tool is no ELF file"
! echo "$headers" | grep -q INTERP || fail "$tool has a program interpreter: $(echo "$headers" | grep -A1 INTERP | tail -n 1)"
! readelf -dW "$tool" | grep NEEDED || fail "$tool needs the shared libraries above"
! readelf -SW "$tool" | grep -q ' \.symtab ' || fail "$tool is not stripped"
size=$(wc -c <"$tool")
[ "$size" -le 1048576 ] || fail "$tool has $size bytes, more than 1 MiB"
architecture=$(readelf -A "$tool" | sed -n 's/^ *Tag_CPU_arch: //p')
case $cpu-$architecture in
arm1176-v[45]* | arm1176-v6 | arm1176-v6K | arm1176-v6KZ | [!a]*- | a[!r]*-) ;;
*) fail "$tool is built for $architecture, which $cpu does not run" ;;
esac

printf '\n\n' | QEMU_CPU=$cpu "$qemu" "$tool" >"$run/out" 2>"$run/err"
status=$?
[ "$status" -eq 0 ] || fail "on $cpu: exit status $status$(head -c 300 "$run/err" | sed 's/^/: /')"
[ ! -s "$run/err" ] || fail "on $cpu: wrote to stderr: $(head -c 300 "$run/err")"
list_line=$(printf "$USBPROBE_LIST_LINE" 0 0 | sed 's/[0-9A-F]\{4\}/[0-9A-F]\\{4\\}/g')
if ls /sys/bus/usb/devices/*/idVendor >/dev/null 2>&1; then
    ! grep -qx 1a86 /sys/bus/usb/devices/*/idVendor || skip "a device of the bridge's vendor is attached here"
    sed "/^$list_line\$/d" "$run/out" >"$run/rest"
else
    cp "$run/out" "$run/rest"
fi
printf '%b' "$USBPROBE_PROMPT$USBPROBE_CLOSED" >"$run/expected"
cmp -s "$run/rest" "$run/expected" || fail "on $cpu: printed $(od -An -c "$run/out" | tr -s ' \n' ' ')"
echo "$tool: static, $size bytes${architecture:+, $architecture}; on $cpu under $qemu: the bytes of a bus without devices"
