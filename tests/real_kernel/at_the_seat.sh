#!/bin/sh
# Proves that the example udev rule, as this build's .deb ships it, lets the
# user at the computer open the USB-to-serial bridge 1A86:7523 through libusb
# with no group: a whole Debian system of SUITE, made with mmdebstrap, boots
# with systemd as its first process on Debian's amd64 kernel of KERNEL_SUITE
# in qemu-system-x86_64. There the tool is installed with `apt install
# ./THE.deb`; the user tester, in no group but its own, is logged in on tty1
# by getty's autologin, so that logind gives it the active session at seat0;
# the bridge is a FunctionFS gadget on dummy_hcd that the kernel's USB serial
# driver binds. at_the_seat_guest.sh runs the table there, the tool always in
# tester's session, and prints a row each.
# Usage: at_the_seat.sh KERNEL_SUITE SUITE PLUGDEV NODE_WITH_RULE BUILD_TREE BRIDGE_FUNCTION CACHE
#   KERNEL_SUITE     the Debian release whose amd64 kernel and modules boot it,
#                    as the other real-kernel tests keep them
#   SUITE            the Debian suite of the system
#   PLUGDEV          kept, or removed (as on systems that have no group
#                    plugdev) before udev reads any rule
#   NODE_WITH_RULE   "MODE OWNER:GROUP" of the bridge's node that SUITE's udev
#                    gives with the example rule
#   BUILD_TREE       the build tree, whose CPack configuration makes the .deb
#   BRIDGE_FUNCTION  the gadget program, built for amd64
#   CACHE            where the kernel, apt's indexes and the systems are kept
#                    between runs; a system is made again when the archive has
#                    other versions of its packages or its recipe here changes
# Exits 77 (skipped), saying why, where qemu-system-x86_64, mmdebstrap or the
# archive cannot be had; 1, with the end of the guest's console, where a row
# fails.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
kernel_suite=$1 system_suite=$2 plugdev=$3 node_with_rule=$4 tree=$5 bridge_function=$6 cache_root=$7
debian_vm=$here/../support/debian_vm.sh
guest_name="amd64 Debian $system_suite with systemd"
# The system's files get the modes it needs, whatever the caller's umask.
umask 022
. "$here/../support/verdicts.sh"
command -v mmdebstrap >/dev/null || skip "no mmdebstrap here (Debian: mmdebstrap)"

run=$(mktemp -d)
system_new=
trap 'rm -rf "$run" "$system_new"' EXIT
"${CPACK_COMMAND:-cpack}" --config "$tree/CPackConfig.cmake" -B "$run/package" >"$run/cpack.log" 2>&1 ||
    { cat "$run/cpack.log"; fail "cpack could not make the .deb"; }
usbprobe_deb=$(echo "$run"/package/usbprobe_*_amd64.deb)
[ -f "$usbprobe_deb" ] || fail "cpack made no amd64 .deb"

cache=$(sh "$debian_vm" prepare amd64 "$kernel_suite" "$cache_root") || exit

# --- the system ---------------------------------------------------------------

# Kept in CACHE/systems/SUITE: apt's indexes of the suite, and the system, its
# packages and its recipe.
kept=$cache_root/systems/$system_suite
system=$kept/system
system_apt() {
    sh "$here/../../scripts/private-apt" "$kept/apt" "$system_suite" amd64 "$@"
}
mkdir -p "$kept" 2>/dev/null || skip "cannot write the systems' cache $cache_root (set USBPROBE_GUEST_CACHE_DIR)"
system_apt >"$run/indexes.log" 2>&1 || { cat "$run/indexes.log"; skip "cannot fetch the indexes of Debian $system_suite"; }
lists=$kept/apt/$system_suite/var/lib/apt/lists

# The recipe: the variant with only what apt needs, and what logind's seats and
# the tool need besides; no documentation, manual pages, translations,
# character sets or hardware database. mmdebstrap's apt sees the archive as
# this machine's apt does (a mirror whose Release has expired, say).
valid_until=$(apt-config dump | sed -n 's/^Acquire::Check-Valid-Until "\(.*\)";$/\1/p')
check_date=$(apt-config dump | sed -n 's/^Acquire::Check-Date "\(.*\)";$/\1/p')
set -- --variant=apt --architectures=amd64 \
    --include=systemd,systemd-sysv,udev,dbus,libpam-systemd,login,passwd,mount,libusb-1.0-0,kmod,acl \
    --aptopt='Acquire::Languages "none"' \
    ${valid_until:+"--aptopt=Acquire::Check-Valid-Until \"$valid_until\""} \
    ${check_date:+"--aptopt=Acquire::Check-Date \"$check_date\""} \
    --dpkgopt='path-exclude=/usr/share/doc/*' --dpkgopt='path-exclude=/usr/share/man/*' \
    --dpkgopt='path-exclude=/usr/share/info/*' --dpkgopt='path-exclude=/usr/share/locale/*' \
    --dpkgopt='path-exclude=/usr/share/lintian/*' \
    --customize-hook='rm -rf "$1"/usr/lib/udev/hwdb.bin "$1"/usr/lib/udev/hwdb.d "$1"/etc/udev/hwdb.bin "$1"/usr/lib/x86_64-linux-gnu/gconv' \
    --customize-hook='rm -f "$1"/etc/dpkg/dpkg.cfg.d/99mmdebstrap "$1"/etc/apt/apt.conf.d/99mmdebstrap'
recipe="recipe: umask 022 $*"

# What the archive has now of the packages that the cached system holds (its
# made-of, below its recipe): their records, and their versions.
records_now() {
    # shellcheck disable=SC2046
    system_apt apt-cache show --no-all-versions $(sed 1d "$system/made-of" | sed 's/=.*/:amd64/') 2>/dev/null
}
versions_now() { records_now | awk '/^Package: / { package = $2 } /^Version: / { print package "=" $2 }' | LC_ALL=C sort; }
fresh=
if [ -f "$system/made-of" ] && [ -f "$system/system.cpio" ] && [ "$(head -n 1 "$system/made-of")" = "$recipe" ]; then
    if [ -z "$(find "$lists" -newer "$system/made-of" -print 2>/dev/null | head -n 1)" ] ||
        [ "$(versions_now)" = "$(sed 1d "$system/made-of")" ]; then
        fresh=yes
    fi
fi
if [ -z "$fresh" ]; then
    [ "$(id -u)" -eq 0 ] || skip "making the Debian $system_suite system takes root (mmdebstrap's root mode)"
    echo "$guest_name: making the system with mmdebstrap"
    # Made beside the cache and moved into place, so that a run at the same
    # time sees the old system or the new one, never half of one.
    system_new=$(mktemp -d "$system.new.XXXXXX")
    chmod 0755 "$system_new"
    made_at=$(date +%s)
    # The archive as the private apt tree names it, its binary packages alone.
    grep '^deb ' "$kept/apt/$system_suite/etc/apt/sources.list" |
        mmdebstrap "$@" "$system_suite" "$system_new/root" - >"$run/mmdebstrap.log" 2>&1 || {
        tail -n 20 "$run/mmdebstrap.log"
        ! grep -q -i -E 'failed to fetch|temporary failure|could not resolve|unable to connect' "$run/mmdebstrap.log" ||
            skip "cannot download the packages of Debian $system_suite"
        fail "mmdebstrap could not make the Debian $system_suite system"
    }
    # A machine id of its own, so that systemd sees no first boot; the system
    # packed as one initramfs.
    od -An -N16 -tx1 /dev/urandom | tr -d ' \n' >"$system_new/root/etc/machine-id"
    echo >>"$system_new/root/etc/machine-id"
    (cd "$system_new/root" && find . -mindepth 1 | LC_ALL=C sort | cpio -o -H newc --quiet) >"$system_new/system.cpio"
    dpkg-query --admindir="$system_new/root/var/lib/dpkg" -W -f '${Package}=${Version}\n' | LC_ALL=C sort >"$system_new/packages"
    rm -rf "$system_new/root"
    { echo "$recipe"; cat "$system_new/packages"; } >"$system_new/made-of"
    rm "$system_new/packages"
    rm -rf "$system.old"
    [ ! -e "$system" ] || mv "$system" "$system.old"
    mv "$system_new" "$system"
    system_new=
    rm -rf "$system.old"
    echo "$guest_name: made in $(($(date +%s) - made_at)) s of $(($(wc -l <"$system/made-of") - 1)) packages," \
        "$(records_now | awk '/^Size: / { size += $2 } END { print int(size / 1048576) }') MiB downloaded;" \
        "$(($(wc -c <"$system/system.cpio") / 1048576)) MiB as its initramfs"
fi
touch "$system/made-of"

# --- this run's part ------------------------------------------------------------

# The .deb, the gadget program and the guest's script with its settings; the
# kernel's modules as the kernel's cache keeps them (the USB core, dummy_hcd,
# the gadget side and the bridge's serial driver, with their index).
layer=$run/layer
guest=$layer/usr/local/lib/at-the-seat
mkdir -p "$guest"
cp "$usbprobe_deb" "$guest/"
install -m 0755 "$bridge_function" "$guest/bridge_function"
install -m 0755 "$here/at_the_seat_guest.sh" "$guest/guest.sh"
cp "$here/../support/words.sh" "$guest/words.sh"
printf 'plugdev=%s\nnode_with_rule="%s"\n' "$plugdev" "$node_with_rule" >"$guest/settings"
(cd "$layer" && cpio -id --quiet 'usr/lib/modules/*' 'lib/modules/*') <"$cache/base.cpio"
if [ -d "$layer/lib/modules" ]; then
    mkdir -p "$layer/usr/lib"
    mv "$layer/lib/modules" "$layer/usr/lib/"
    rm -rf "${layer:?}/lib"
fi
[ -n "$(find "$layer/usr/lib/modules" -name 'dummy_hcd.ko*')" ] || fail "the kernel's cache holds no dummy_hcd"
(cd "$layer" && find . -mindepth 1 | LC_ALL=C sort | cpio -o -H newc -R 0:0 --quiet) | cat "$system/system.cpio" - >"$run/initrd"

# Two processors: under TCG the boot and apt run beside each other.
booted=yes
sh "$debian_vm" boot -m 1536 amd64 "$kernel_suite" "$cache_root" "$run" "$run/initrd" \
    "rdinit=/usr/local/lib/at-the-seat/guest.sh" -smp 2 || booted=

# (systemd, since 258, writes its terminal sequences on the console too.)
tr -d '\r' <"$run/console" | sed -n 's/^.*usbprobe-guest: //p'
rows=$(grep -c "^ *row [a-z]" "$here/at_the_seat_guest.sh")
if [ -z "$booted" ] ||
    ! tr -d '\r' <"$run/console" | grep -qx ".*usbprobe-guest: done: $rows passed, 0 failed, in [0-9.]* s"; then
    tr -d '\r' <"$run/console" | grep -v 'usbprobe-guest: ' | tail -n 60
    cat "$run/qemu.log"
    fail "$guest_name: not every one of the $rows rows passed"
fi
