#!/bin/sh
# Runs the tool, as this build's .deb ships it, on Debian 12's own kernel for
# the build's architecture in qemu-system, through the scenarios of
# guest_init.sh. The guest is Debian's packages of that architecture, only
# unpacked: the archive's current kernel, busybox, udev and the libraries the
# tool and udev link; its devices are gadgets on the kernel's dummy_hcd.
# Usage: on_debian_kernel.sh ARCH BUILD_TREE BRIDGE_FUNCTION CACHE
#   ARCH             the .deb's architecture: amd64, i386, arm64 or armhf
#   BUILD_TREE       the build tree, whose CPack configuration makes the .deb
#   BRIDGE_FUNCTION  the gadget program of guest_init.sh, built for ARCH
#   CACHE            where the packages and the guest's base are kept between
#                    runs; made again only when the archive has other versions
# Exits 77 (skipped), saying why, where the machine or the packages cannot be had.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
arch=$1 tree=$2 bridge_function=$3 cache=$4/$1
skip() {
    echo "skipped: $*"
    exit 77
}
fail() {
    echo "$*" >&2
    exit 1
}
new= run=
trap 'rm -rf "$new" "$run"' EXIT

case $arch in
amd64) qemu=qemu-system-x86_64 package=qemu-system-x86 kernel=linux-image-amd64 machine="-M pc" console=ttyS0 ;;
i386) qemu=qemu-system-i386 package=qemu-system-x86 kernel=linux-image-686 machine="-M pc" console=ttyS0 ;;
arm64) qemu=qemu-system-aarch64 package=qemu-system-arm kernel=linux-image-arm64 machine="-M virt -cpu cortex-a57" console=ttyAMA0 ;;
armhf) qemu=qemu-system-arm package=qemu-system-arm kernel=linux-image-armmp machine="-M virt,highmem=off -cpu cortex-a15" console=ttyAMA0 ;;
*) skip "no virtual machine for the architecture $arch" ;;
esac
command -v $qemu >/dev/null || skip "no $qemu here (Debian: $package)"
for program in apt-cache apt-get dpkg-deb depmod cpio; do
    command -v $program >/dev/null || skip "no $program here"
done

# What the guest is made of, at the versions the archive has now: as the
# cache last found them, unless apt's lists or this script have changed since
# (apt-cache takes seconds, with no cache of its own between calls on some machines).
packages="base-passwd busybox-static udev libudev1 libusb-1.0-0 libc6 libgcc-s1 libstdc++6
          libkmod2 libacl1 libblkid1 libcap2 libselinux1 libpcre2-8-0 libzstd1 liblzma5 libssl3"
if [ -f "$cache/made-of" ] && [ -z "$(find /var/lib/apt/lists "$here/on_debian_kernel.sh" -newer "$cache/made-of" -print 2>/dev/null | head -n 1)" ]; then
    wanted=$(cat "$cache/made-of")
else
    wanted=$(apt-cache show --no-all-versions $(for package in $kernel $packages; do echo "$package:$arch"; done) 2>/dev/null |
        awk -v arch="$arch" -v kernel="$kernel" '
            /^Package: / { package = $2 }
            /^Version: / { if (package != kernel) printf " %s:%s=%s", package, arch, $2 }
            /^Depends: / && package == kernel { match($0, /linux-image-[^ ,]* \(= [^)]*\)/)
                split(substr($0, RSTART, RLENGTH), image, /[ ()=]+/); printf " %s:%s=%s", image[1], arch, image[2] }')
fi
kernel=$(echo "$wanted" | sed -n 's/^ \(linux-image-[^:]*\):.*/\1/p')
release=${kernel#linux-image-}
[ -n "$kernel" ] && [ "$(echo "$wanted" | wc -w)" -eq "$(($(echo "$packages" | wc -w) + 1))" ] ||
    skip "apt knows not all of $kernel $packages for $arch (add the architecture: dpkg --add-architecture $arch; apt-get update)"

if [ "$(cat "$cache/made-of" 2>/dev/null)" != "$wanted" ]; then
    echo "$arch: making the guest of$wanted"
    # Made beside the cache and moved into place, so that a run at the same
    # time sees the old guest or the new one, never half of one.
    mkdir -p "$(dirname "$cache")" 2>/dev/null && new=$(mktemp -d "$cache.new.XXXXXX" 2>/dev/null) ||
        skip "cannot write the guest's cache $(dirname "$cache") (a read-only source tree? set USBPROBE_GUEST_CACHE_DIR)"
    mkdir "$new/debs" "$new/root"
    (cd "$new/debs" && apt-get -q -o APT::Sandbox::User=root download $wanted) >"$new/download.log" 2>&1 ||
        skip "cannot download the packages for $arch: apt-get download failed (no network, or apt's lists are out of date: apt-get update)"
    root=$new/root
    for deb in "$new"/debs/*.deb; do
        dpkg-deb -x "$deb" "$root"
    done
    mv "$root/boot/vmlinuz-$release" "$new/kernel"
    if [ "$arch" = amd64 ]; then
        # The kernel unpacked from its bzImage, as the kernel's extract-vmlinux
        # does: qemu starts it at its PVH entry, seconds sooner under TCG.
        at=$(LC_ALL=C grep -obUaP '\xfd7zXZ\x00' "$new/kernel" | head -n 1 | cut -d: -f1)
        tail -c +$((at + 1)) "$new/kernel" | xz -dc --single-stream >"$new/vmlinux" &&
            mv "$new/vmlinux" "$new/kernel" || fail "cannot unpack the kernel from $kernel's bzImage"
    fi
    rm -rf "$root/boot" "$root/usr/share/doc" "$root/usr/share/man" "$root/usr/share/locale" \
        "$root/usr/lib/$(ls "$root/usr/lib" | grep -- -linux-gnu | head -n 1)/gconv" "$root/lib/udev/hwdb.d"
    # Of the kernel's modules, those the guest needs: the USB core, the
    # gadget side, and what modules.alias gives for 1A86:7523 with what
    # that needs. depmod then indexes them for busybox's modprobe and udev.
    modules=$root/lib/modules/$release
    depmod -b "$root" "$release"
    driver=$(sed -n 's/^alias usb:v1A86p7523d\*[^ ]* //p' "$modules/modules.alias" | head -n 1)
    [ -n "$driver" ] || fail "no module of $kernel has an alias for usb:v1A86p7523"
    mv "$modules/kernel" "$new/all-modules"
    for module in dummy_hcd libcomposite usb_f_fs usb_f_ss_lb "$driver"; do
        grep "/$module\.ko[^:]*:" "$modules/modules.dep" | tr -d : | tr ' ' '\n'
    done | sort -u | while read -r file; do
        mkdir -p "$(dirname "$modules/$file")"
        mv "$new/all-modules/${file#kernel/}" "$modules/$file"
    done
    rm -rf "$new/all-modules"
    depmod -b "$root" "$release"
    (cd "$root" && find . | LC_ALL=C sort | cpio -o -H newc --quiet) >"$new/base.cpio"
    rm -rf "$root" "$new/debs"
    echo "$wanted" >"$new/made-of"
    rm -rf "$cache.old"
    [ ! -e "$cache" ] || mv "$cache" "$cache.old"
    mv "$new" "$cache"
    rm -rf "$cache.old"
fi
touch "$cache/made-of" 2>/dev/null || true

# This run's part of the guest: the .deb's files, the gadget program, the script.
run=$(mktemp -d)
"${CPACK_COMMAND:-cpack}" --config "$tree/CPackConfig.cmake" -B "$run/package" >"$run/cpack.log" 2>&1 ||
    { cat "$run/cpack.log"; fail "cpack could not make the .deb"; }
mkdir -p "$run/root/usr/bin"
dpkg-deb -x "$run"/package/usbprobe_*_"$arch".deb "$run/root"
cp "$bridge_function" "$run/root/usr/bin/bridge_function"
install -m 0755 "$here/guest_init.sh" "$run/root/init"
(cd "$run/root" && find . | LC_ALL=C sort | cpio -o -H newc --quiet) | cat "$cache/base.cpio" - >"$run/initrd"

# KVM where it works: a guest that does not start within 30 s under it falls
# back to TCG, and the checkout remembers that KVM does not work here.
accelerator=tcg
if [ "$(uname -m)" = x86_64 ] && { [ "$arch" = amd64 ] || [ "$arch" = i386 ]; }; then
    [ -w /dev/kvm ] && [ "$(cat "$4/kvm" 2>/dev/null)" != "does not work" ] && accelerator=kvm
fi
# boot ACCELERATOR: fails if the guest does not start; leaves qemu's exit
# status in qemu_status.
boot() {
    # The ARM machines name their processor; a PC takes the host's or TCG's fullest.
    case $1-$arch in
    kvm-*) cpu="-cpu host" ;;
    tcg-amd64 | tcg-i386) cpu="-cpu max" ;;
    *) cpu= ;;
    esac
    : >"$run/console"
    started=$(date +%s.%N)
    # shellcheck disable=SC2086
    timeout 600 $qemu $machine $cpu -accel "$1" -m 512 -nodefaults -no-reboot -display none \
        -serial "file:$run/console" -kernel "$cache/kernel" -initrd "$run/initrd" \
        -append "console=$console quiet panic=-1" >"$run/qemu.log" 2>&1 &
    qemu_pid=$!
    tries=300
    until grep -q '^usbprobe-guest: kernel' "$run/console"; do
        tries=$((tries - 1))
        if [ $tries -eq 0 ] || ! kill -0 $qemu_pid 2>/dev/null; then
            kill $qemu_pid 2>/dev/null || true
            wait $qemu_pid || true
            return 1
        fi
        sleep 0.1
    done
    booted=$(date +%s.%N)
    qemu_status=0
    wait $qemu_pid || qemu_status=$?
}
if [ $accelerator = kvm ] && ! boot kvm; then
    echo "$arch: KVM does not start the guest here ($(grep -m 1 -i error "$run/qemu.log" || echo no guest after 30 s)); TCG instead"
    echo "does not work" 2>/dev/null >"$4/kvm" || true
    accelerator=tcg
fi
if [ $accelerator = tcg ] && ! boot tcg; then
    cat "$run/qemu.log" "$run/console"
    fail "$arch: the guest did not start"
fi
ended=$(date +%s.%N)

tr -d '\r' <"$run/console" | sed -n 's/^usbprobe-guest: //p'
awk -v a="$started" -v b="$booted" -v c="$ended" -v what="$arch: $kernel in $qemu with $accelerator" \
    'BEGIN { printf "%s: booted in %.1f s, %.1f s in all\n", what, b - a, c - a }'
rows=$(grep -c '^scenario ' "$here/guest_init.sh")
if [ "$qemu_status" -ne 0 ] ||
    ! tr -d '\r' <"$run/console" | grep -qx "usbprobe-guest: done: $rows passed, 0 failed, in .* s"; then
    tr -d '\r' <"$run/console" | tail -n 60
    cat "$run/qemu.log"
    fail "$arch: not every one of the $rows scenarios passed (qemu's exit status: $qemu_status)"
fi
