#!/bin/sh
# Checks that the .deb's example udev rule lets the user at the computer, in no group, open the bridge.
# Usage: at_the_seat.sh KERNEL_SUITE SUITE PLUGDEV NODE_WITH_RULE BUILD_TREE BRIDGE_FUNCTION CACHE
#   (ctest -R SeatUserOpensWithExampleRule)
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
#                    other versions of its packages or its recipe changes
# A whole Debian system boots in qemu with systemd as its first process; tester is logged in on
# tty1 by getty's autologin; the rows (at_the_seat_rows.sh) install the .deb with apt and run the
# tool, against the bridge 1A86:7523, in tester's session. Exits 77 (skipped), saying why, where
# qemu-system-x86_64, mmdebstrap or the archive cannot be had; 1, with the end of the guest's
# console, where a row fails.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
kernel_suite=$1 system_suite=$2 plugdev=$3 node_with_rule=$4 tree=$5 bridge_function=$6 cache_root=$7
guest_name="amd64 Debian $system_suite with systemd"
# The guest's files get the modes it needs, whatever the caller's umask.
umask 022
. "$here/../support/verdicts.sh"
. "$here/boot_deb.sh"
command -v mmdebstrap >/dev/null || skip "no mmdebstrap here (Debian: mmdebstrap)"

make_deb "$tree" amd64
cache=$(sh "$debian_vm" prepare amd64 "$kernel_suite" "$cache_root") || exit

# The system, in CACHE/systems/SUITE with apt's indexes of the suite: what
# logind's seats and the tool need besides apt. It is made again when
# seat_system.sh or what apt would install for it now changes.
kept=$cache_root/systems/$system_suite
system_apt() { sh "$here/../../scripts/private-apt" "$kept/apt" "$system_suite" amd64 "$@"; }
mkdir -p "$kept" 2>/dev/null || skip "cannot write the systems' cache $cache_root (set USBPROBE_GUEST_CACHE_DIR)"
system_apt >"$run/indexes.log" 2>&1 || { cat "$run/indexes.log"; skip "cannot fetch the indexes of Debian $system_suite"; }
set -- systemd systemd-sysv udev dbus libpam-systemd login passwd mount libusb-1.0-0 kmod acl
includes=$(echo "$@" | tr ' ' ,)
: >"$run/status"
system_apt apt-get -s --no-install-recommends -o Dir::State::status="$run/status" -o Dir::State::extended_states="$run/extended_states" \
    install '?essential' apt "$@" >"$run/resolved" 2>&1 ||
    { cat "$run/resolved"; fail "apt cannot resolve the packages of the Debian $system_suite system"; }
made_of="seat_system.sh $(sha256sum <"$here/seat_system.sh" | cut -d' ' -f1) with $includes
$(sed -n 's/^Inst \([^ ]*\) (\([^ ]*\) .*/\1=\2/p' "$run/resolved" | LC_ALL=C sort)"
sh "$here/../../scripts/cache" "$kept/system" "$made_of" sh "$here/seat_system.sh" "$kept/apt" "$system_suite" "$includes"

# This run's part: the .deb, the gadget program, the guest's scripts with
# their settings; the kernel's modules as the kernel's cache keeps them (the
# USB core, dummy_hcd, the gadget side and the bridge's serial driver, with
# their index).
layer=$run/layer
guest=$layer/usr/local/lib/at-the-seat
mkdir -p "$guest" "$layer/usr/local/bin"
cp "$usbprobe_deb" "$guest/"
install -m 0755 "$bridge_function" "$layer/usr/local/bin/bridge_function"
for script in init tester rows; do install -m 0755 "$here/at_the_seat_$script.sh" "$guest/$script.sh"; done
install -m 0644 "$here/gadget.sh" "$here/../support/words.sh" "$guest/"
printf 'plugdev=%s\nnode_with_rule="%s"\n' "$plugdev" "$node_with_rule" >"$guest/settings"
(cd "$layer" && cpio -id --quiet 'usr/lib/modules/*' 'lib/modules/*') <"$cache/base.cpio"
if [ -d "$layer/lib/modules" ]; then
    mkdir -p "$layer/usr/lib"
    mv "$layer/lib/modules" "$layer/usr/lib/"
    rm -rf "${layer:?}/lib"
fi
[ -n "$(find "$layer/usr/lib/modules" -name 'dummy_hcd.ko*')" ] || fail "the kernel's cache holds no dummy_hcd"
(cd "$layer" && find . -mindepth 1 | LC_ALL=C sort | cpio -o -H newc -R 0:0 --quiet) | cat "$kept/system/system.cpio" - >"$run/initrd"

# Two processors: under TCG the boot and apt run beside each other.
boot_guest -m 1536 amd64 "$kernel_suite" "$cache_root" "$run" "$run/initrd" "rdinit=/usr/local/lib/at-the-seat/init.sh" -smp 2
