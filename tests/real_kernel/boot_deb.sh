# shellcheck shell=sh
# The real-kernel tests' shared steps: make this build's .deb; boot a guest and read its verdict.
# Usage: . "$here/boot_deb.sh"   (after verdicts.sh; here: this folder; guest_name set before boot_guest)
#   defines make_deb and boot_guest, and run, this run's folder
# This run's folder, gone at the end.
run=$(mktemp -d)
trap 'rm -rf "$run"' EXIT
debian_vm=${here:?}/../support/debian_vm.sh

# make_deb TREE ARCH: sets usbprobe_deb to the .deb of ARCH that the build
# tree TREE's CPack configuration makes, in $run/package.
make_deb() {
    "${CPACK_COMMAND:-cpack}" --config "$1/CPackConfig.cmake" -B "$run/package" >"$run/cpack.log" 2>&1 ||
        { cat "$run/cpack.log"; fail "cpack could not make the .deb"; }
    usbprobe_deb=$(echo "$run"/package/usbprobe_*_"$2".deb)
    [ -f "$usbprobe_deb" ] || fail "cpack made no $2 .deb"
}

# boot_guest ARGUMENT...: boots the guest (debian_vm.sh boot ARGUMENT...) and
# prints its lines; fails unless it ran every row of its table, as it counted
# them before, and every one passed.
boot_guest() {
    booted=yes
    sh "$debian_vm" boot "$@" || booted=
    # (systemd, since 258, writes its terminal sequences on the console too.)
    tr -d '\r' <"$run/console" | sed -n 's/^.*usbprobe-guest: //p' >"$run/rows"
    cat "$run/rows"
    if [ -z "$booted" ] || ! grep -qx 'done: \([1-9][0-9]*\) passed, 0 failed, of \1 rows, in [0-9.]* s' "$run/rows"; then
        tr -d '\r' <"$run/console" | grep -v 'usbprobe-guest: ' | tail -n 60
        cat "$run/qemu.log"
        fail "${guest_name:?}: not every row of its table passed"
    fi
}
