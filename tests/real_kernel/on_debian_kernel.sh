#!/bin/sh
# Runs guest_init.sh's table on a Debian kernel in qemu-system, with the tool as this build ships it.
# Usage: on_debian_kernel.sh PRESET SUITE:FLAVOUR TOOL BRIDGE_FUNCTION TAKE_BRIDGE CACHE
#   (ctest -R AnswersOnDebianKernel)
#   PRESET           the build's row in the map of the builds (cmake/targets.txt)
#   SUITE:FLAVOUR    one entry of its kernels column
#   TOOL             the build tree, whose CPack configuration makes the .deb;
#                    or the static file itself
#   BRIDGE_FUNCTION  the gadget program of guest_init.sh, built as the tool is
#   TAKE_BRIDGE      its program that takes the bridge from the serial driver
#   CACHE            where the packages, apt's indexes and the guest's base are
#                    kept between runs; made again only when the archive has
#                    other versions
# The .deb's guest: Debian's packages of that release, only unpacked, with the
# tool as the .deb installs it once apt resolves it as `apt install ./THE.deb`
# does there. The static file's guest: the kernel, busybox-static and
# base-passwd's lists, checked to hold no C library.
# Exits 77 (skipped), saying why, where the machine or the packages cannot be had.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
preset=$1 entry=$2 tool=$3 bridge_function=$4 take_bridge=$5 cache_root=$6
suite=${entry%%:*}
targets=$here/../../scripts/targets
arch=$(sh "$targets" "$preset" arch) || exit
package=$(sh "$targets" "$preset" package)
guest_name="$preset ($arch) on Debian $entry"
# The guest's files get the modes it needs, whatever the caller's umask.
umask 022
. "$here/../support/verdicts.sh"
. "$here/boot_deb.sh"

mkdir -p "$run/root/usr/bin"
if [ "$package" = deb ]; then
    make_deb "$tool" "$arch"

    # apt on that release with an empty dpkg status: only this architecture's
    # packages, none of them installed.
    sh "$debian_vm" apt "$suite" "$cache_root" || skip "cannot fetch the indexes of $guest_name"
    : >"$run/status"
    sh "$debian_vm" apt "$suite" "$cache_root" apt-get -s -o APT::Architecture="$arch" -o APT::Architectures="$arch" \
        -o Dir::State::status="$run/status" -o Dir::State::extended_states="$run/extended_states" \
        install "$usbprobe_deb" >"$run/apt.log" 2>&1 || { cat "$run/apt.log"; fail "$guest_name: apt cannot install the .deb"; }
    echo "$guest_name: apt installs the .deb with $(grep -c '^Inst ' "$run/apt.log") packages"
    dpkg-deb -x "$usbprobe_deb" "$run/root"
else
    install -m 0755 "$tool" "$run/root/usr/bin/usbprobe"
fi

cache=$(sh "$debian_vm" prepare "$preset" "$entry" "$cache_root") || exit
# This run's part of the guest: the tool, the gadget program, the script and
# the tool's words.
install -m 0755 "$bridge_function" "$run/root/usr/bin/bridge_function"
install -m 0755 "$take_bridge" "$run/root/usr/bin/take_bridge"
install -m 0755 "$here/guest_init.sh" "$run/root/init"
install -m 0644 "$here/../support/words.sh" "$run/root/words.sh"
install -m 0644 "$here/gadget.sh" "$run/root/gadget.sh"
(cd "$run/root" && find . | LC_ALL=C sort | cpio -o -H newc --quiet) | cat "$cache/base.cpio" - >"$run/initrd"

# No C library in the static file's guest: no file but the kernel's modules
# is a dynamically linked program (an ELF file that names an interpreter or
# needs a library), a shared library, or the C library or its loader.
if [ "$package" != deb ]; then
    command -v readelf >/dev/null || skip "no readelf here (Debian: binutils)"
    mkdir "$run/all"
    { (cd "$run/all" && cpio -id --quiet <"$cache/base.cpio") && cp -R "$run/root/." "$run/all/"; } ||
        fail "cannot unpack the guest's files"
    find "$run/all" -type f ! -path "$run/all/*lib/modules/*" | while read -r file; do
        name=${file#"$run/all"}
        case ${name##*/} in
        ld-*.so* | ld.so* | libc.so* | libc-*.so | libc.a) echo "$name: the C library's" ;;
        *.so | *.so.*) echo "$name: a shared library" ;;
        esac
        [ "$(head -c 4 "$file" | od -An -tx1 | tr -d ' ')" = 7f454c46 ] || continue
        if readelf -lW "$file" | grep -q 'Requesting program interpreter'; then echo "$name: dynamically linked"; fi
        if readelf -dW "$file" | grep -q '(NEEDED)'; then echo "$name: needs a shared library"; fi
    done >"$run/libc"
    [ ! -s "$run/libc" ] || { cat "$run/libc"; fail "$guest_name: the guest holds more than static programs"; }
    rm -rf "$run/all"
    echo "$guest_name: no C library in the guest; its initrd: $(wc -c <"$run/initrd") bytes"
fi

boot_guest "$preset" "$entry" "$cache_root" "$run" "$run/initrd" ""
