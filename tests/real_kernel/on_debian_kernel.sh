#!/bin/sh
# Runs the tool, as this build's .deb ships it, on Debian's own kernel for the
# build's architecture in qemu-system, through the scenarios of guest_init.sh;
# and first resolves the .deb's dependencies as `apt install ./THE.deb` does
# on that Debian release with nothing installed yet. The guest is Debian's
# packages of that architecture and release, only unpacked: the archive's
# current kernel, busybox, udev and the libraries the tool and udev link; its
# devices are gadgets on the kernel's dummy_hcd.
# Usage: on_debian_kernel.sh ARCH SUITE BUILD_TREE BRIDGE_FUNCTION TAKE_BRIDGE CACHE
#   ARCH             the .deb's architecture
#   SUITE            the Debian release whose kernel the map of the builds
#                    (cmake/targets.txt) gives ARCH
#   BUILD_TREE       the build tree, whose CPack configuration makes the .deb
#   BRIDGE_FUNCTION  the gadget program of guest_init.sh, built for ARCH
#   TAKE_BRIDGE      its program that takes the bridge from the serial driver
#   CACHE            where the packages, apt's indexes and the guest's base are
#                    kept between runs; made again only when the archive has
#                    other versions
# Exits 77 (skipped), saying why, where the machine or the packages cannot be had.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
arch=$1 suite=$2 tree=$3 bridge_function=$4 take_bridge=$5 cache_root=$6
debian_vm=$here/../support/debian_vm.sh
guest_name="$arch Debian $suite"
# The guest's files get the modes it needs, whatever the caller's umask.
umask 022
. "$here/../support/verdicts.sh"

run=$(mktemp -d)
trap 'rm -rf "$run"' EXIT
"${CPACK_COMMAND:-cpack}" --config "$tree/CPackConfig.cmake" -B "$run/package" >"$run/cpack.log" 2>&1 ||
    { cat "$run/cpack.log"; fail "cpack could not make the .deb"; }
usbprobe_deb=$(echo "$run"/package/usbprobe_*_"$arch".deb)

# apt on that release with an empty dpkg status: only this architecture's
# packages, none of them installed.
sh "$debian_vm" apt "$suite" "$cache_root" || skip "cannot fetch the indexes of $guest_name"
: >"$run/status"
sh "$debian_vm" apt "$suite" "$cache_root" apt-get -s -o APT::Architecture="$arch" -o APT::Architectures="$arch" \
    -o Dir::State::status="$run/status" -o Dir::State::extended_states="$run/extended_states" \
    install "$usbprobe_deb" >"$run/apt.log" 2>&1 || { cat "$run/apt.log"; fail "$guest_name: apt cannot install the .deb"; }
echo "$guest_name: apt installs the .deb with $(grep -c '^Inst ' "$run/apt.log") packages"

cache=$(sh "$debian_vm" prepare "$arch" "$suite" "$cache_root") || exit
# This run's part of the guest: the .deb's files, the gadget program, the
# script and the tool's words.
mkdir -p "$run/root/usr/bin"
dpkg-deb -x "$usbprobe_deb" "$run/root"
cp "$bridge_function" "$run/root/usr/bin/bridge_function"
cp "$take_bridge" "$run/root/usr/bin/take_bridge"
install -m 0755 "$here/guest_init.sh" "$run/root/init"
cp "$here/../support/words.sh" "$run/root/words.sh"
(cd "$run/root" && find . | LC_ALL=C sort | cpio -o -H newc --quiet) | cat "$cache/base.cpio" - >"$run/initrd"

booted=yes
sh "$debian_vm" boot "$arch" "$suite" "$cache_root" "$run" "$run/initrd" "" || booted=

tr -d '\r' <"$run/console" | sed -n 's/^usbprobe-guest: //p'
rows=$(grep -c '^scenario ' "$here/guest_init.sh")
if [ -z "$booted" ] || ! tr -d '\r' <"$run/console" | grep -qx "usbprobe-guest: done: $rows passed, 0 failed, in .* s"; then
    tr -d '\r' <"$run/console" | tail -n 60
    cat "$run/qemu.log"
    fail "$guest_name: not every one of the $rows scenarios passed"
fi
