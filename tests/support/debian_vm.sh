#!/bin/sh
# Debian's own kernel of an architecture in qemu-system, for the tests that
# need a real kernel. How each architecture's kernel boots (the flavour, the
# qemu-system program, machine, processor and console) comes from the map of
# the builds, cmake/targets.txt: the kernels column of the guest's row names
# SUITE's flavour, and a flavour that is another row's arch boots as that row
# does: that row's kernel of SUITE (its flavour from its own kernels column),
# with its qemu-system, machine, processor and console.
#
# ROW is a preset of the map, or an architecture (its first row); SUITE a
# Debian release (the row's first kernel of it) or one entry SUITE:FLAVOUR of
# the row's kernels column.
#
# Usage: debian_vm.sh prepare ROW SUITE CACHE
#   Makes, or takes from CACHE, the guest's base and prints its folder
#   (CACHE/SUITE/ARCH; CACHE/SUITE/ROW-FLAVOUR for a static file's row):
#   kernel, base.cpio, made-of, and dtb where the machine takes its device
#   tree from the kernel package (raspi0). The base is Debian's packages of
#   the row's ARCH in SUITE, downloaded with apt-get download and only
#   unpacked, never installed: the archive's current kernel, busybox, udev,
#   the tool's libraries and the libraries these depend on; for a row of one
#   static file (package tgz), the kernel, busybox-static and base-passwd's
#   passwd and group master lists alone, no C library. Of the kernel's
#   modules it keeps the USB core, the gadget side, the module that
#   modules.alias gives for 1A86:7523, and virtio's PCI transport with 9p, by
#   which a guest reaches this machine's files; depmod indexes them for
#   busybox's modprobe and udev. This machine's own release comes through its
#   apt lists, any other through a private apt tree in CACHE/apt.
#
# Usage: debian_vm.sh boot [-m MIB] [-t SECONDS] [-c CPU] ROW SUITE CACHE RUN INITRD APPEND [QEMU_OPTION...]
#   Boots the prepared kernel with INITRD as its initramfs and the kernel
#   command line APPEND, and waits until the guest powers off; the guest's
#   init must print "usbprobe-guest: kernel ..." first. It uses KVM where KVM
#   starts the guest and TCG elsewhere (KVM that failed once stays off for
#   CACHE); -c names the processor under TCG instead of the map's, -m the
#   memory (512 MiB, the only size raspi0 has), -t the time allowed (600 s).
#   Leaves the guest's console in RUN/console and qemu's output in
#   RUN/qemu.log, and prints which kernel ran how, with its times. The
#   guest's power-off ends qemu (which some machines, raspi0, do not do by
#   themselves). Fails where the guest does not start or qemu ends otherwise
#   than by the guest's power-off.
#
# Usage: debian_vm.sh apt SUITE CACHE [COMMAND [ARGUMENT...]]
#   Runs apt-get or apt-cache on the private apt tree of SUITE in CACHE/apt,
#   which holds the indexes of every architecture a guest of SUITE can have;
#   without COMMAND, only makes the tree or fetches its indexes again.
#
# Exits 77 (CTest's skipped), saying why, where the machine or the packages
# cannot be had; 1 where something failed.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
targets=$here/../../scripts/targets
umask 022

. "$here/verdicts.sh"

# The architectures whose kernels or userlands the map gives SUITE, with commas.
architectures_of() {
    for row in $(sh "$targets" arch!=-); do
        flavour=$(sh "$targets" "$row" kernels | tr , '\n' | sed -n "s/^$1://p")
        [ -n "$flavour" ] || continue
        sh "$targets" "$row" arch
        [ -z "$(sh "$targets" arch="$flavour")" ] || echo "$flavour"
    done | sort -u | paste -sd ,
}
private_apt() {
    of=$1 cache_root=$2
    shift 2
    sh "$here/../../scripts/private-apt" "$cache_root/apt" "$of" "$(architectures_of "$of")" "$@"
}
# Whether SUITE is this machine's own release, the one the map builds this
# machine's architecture on: its apt lists, with the release's updates, serve
# it (scripts/install-deps adds the other architectures). Elsewhere, in
# scripts/in-debian say, a private tree serves it, fetched again daily.
machine_has() {
    . /etc/os-release
    [ "$1" = "$VERSION_CODENAME" ] &&
        [ "$1" = "$(sh "$targets" "$(sh "$targets" arch="$(dpkg --print-architecture)" | head -n 1)" suite 2>/dev/null)" ]
}

# guest ROW SUITE CACHE: where its kernel and base are kept, how they are
# named, and how its kernel boots, from the map. ROW is a preset of the map,
# or an architecture (its first row); SUITE a release (its first kernel in the
# row's kernels column) or one entry SUITE:FLAVOUR of that column.
guest() {
    row=$1 suite=${2%%:*} cache_root=$3
    if ! arch=$(sh "$targets" "$row" arch 2>/dev/null); then
        arch=$1 row=$(sh "$targets" arch="$1" | head -n 1)
        [ -n "$row" ] || skip "the map of the builds has no architecture or preset $1"
    fi
    flavour=$(sh "$targets" "$row" kernels | tr , '\n' | sed -n "s/^$suite://p" | head -n 1)
    [ "$suite" = "$2" ] || flavour=$(sh "$targets" "$row" kernels | tr , '\n' | grep -x "$2" | sed 's/^[^:]*://')
    [ -n "$flavour" ] || skip "the map of the builds gives $row no kernel $2"
    # A flavour that is another row's architecture boots as that row does: its
    # kernel of SUITE, with its qemu-system, machine, processor and console.
    kernel_row=$(sh "$targets" arch="$flavour" | head -n 1)
    if [ -n "$kernel_row" ]; then
        kernel_arch=$flavour
        flavour=$(sh "$targets" "$kernel_row" kernels | tr , '\n' | sed -n "s/^$suite://p" | head -n 1)
        [ -n "$flavour" ] || skip "the map of the builds gives $kernel_arch, whose kernel $row boots, no kernel of Debian $suite"
    else
        kernel_row=$row kernel_arch=$arch
    fi
    kernel=linux-image-$flavour
    # The rows of one static file (package tgz) boot guests without a C
    # library: busybox-static, and the kernel's modules, alone.
    if [ "$(sh "$targets" "$row" package)" = tgz ]; then
        libc='' guest_name="$row on Debian $suite's $flavour kernel ($kernel_arch), no C library"
        cache=$cache_root/$suite/$row-$flavour
    else
        libc=yes guest_name="$arch Debian $suite"
        cache=$cache_root/$suite/$arch
    fi
    # shellcheck disable=SC2046
    set -- $(sh "$targets" "$kernel_row" qemu_system machine cpu console processor qemu_package)
    qemu=$1 machine=$2 cpu=$3 serial=$4 processor=$5 qemu_package=$6
    # The machines whose device tree comes with the kernel: its file there.
    case $machine in
    raspi0) device_tree=bcm2835-rpi-zero.dtb ;;
    *) device_tree= ;;
    esac
}

prepare() {
    guest "$@"
    command -v "$qemu" >/dev/null || skip "no $qemu here (Debian: $qemu_package)"
    for program in apt-cache apt-get dpkg-deb depmod cpio; do
        command -v $program >/dev/null || skip "no $program here"
    done
    [ -z "$device_tree" ] || command -v fdtput >/dev/null || skip "no fdtput here (Debian: device-tree-compiler)"

    if machine_has "$suite"; then
        lists=/var/lib/apt/lists hint=" (add the architecture: dpkg --add-architecture $arch; apt-get update)"
        apt_of_suite() { "$@"; }
    else
        lists=$cache_root/apt/$suite/var/lib/apt/lists hint=
        # apt reads the indexes of these architectures alone.
        apt_of_suite() {
            command=$1
            shift
            private_apt "$suite" "$cache_root" "$command" -o APT::Architecture="$arch" \
                -o APT::Architectures="$arch,$kernel_arch" "$@"
        }
        private_apt "$suite" "$cache_root" || skip "cannot fetch the indexes of $guest_name"
    fi
    # What the guest is made of, at the versions the archive has now: as the
    # cache last found them, unless apt's lists, this script or the map have
    # changed since (apt-cache takes seconds, with no cache of its own between
    # calls on some machines).
    if [ -f "$cache/made-of" ] && [ -z "$(find "$lists" "$0" "$here/../../cmake/targets.txt" -newer "$cache/made-of" -print 2>/dev/null | head -n 1)" ]; then
        wanted=$(head -n 1 "$cache/made-of")
    else
        # Busybox, base-passwd's users, udev and the tool's libraries, with
        # libkmod and what it loads (its .note.dlopen: liblzma and libzstd);
        # then every library these depend on, to the end.
        packages="base-passwd busybox-static udev libusb-1.0-0 libstdc++6 libkmod2 liblzma5 libzstd1"
        more=$packages
        # Without a C library: busybox-static and base-passwd's lists alone.
        [ -n "$libc" ] || packages="base-passwd busybox-static" more=
        while [ -n "$more" ]; do
            # shellcheck disable=SC2046
            depends=$(apt_of_suite apt-cache show --no-all-versions $(for package in $more; do echo "$package:$arch"; done) 2>/dev/null |
                awk '/^(Pre-)?Depends: / { sub(/^[^ ]* /, ""); n = split($0, each, /, /)
                    for (i = 1; i <= n; i++) { split(each[i], name, /[ :]/); if (name[1] ~ /^(lib|zlib)/) print name[1] } }' | sort -u)
            more=
            for package in $depends; do
                case " $packages " in
                *" $package "*) ;;
                *) packages="$packages $package" more="$more $package" ;;
                esac
            done
        done
        # shellcheck disable=SC2046
        wanted=$(apt_of_suite apt-cache show --no-all-versions "$kernel:$kernel_arch" $(for package in $packages; do echo "$package:$arch"; done) 2>/dev/null |
            awk -v arch="$arch" -v kernel="$kernel" -v kernel_arch="$kernel_arch" '
                /^Package: / { package = $2 }
                /^Version: / { if (package != kernel) printf " %s:%s=%s", package, arch, $2 }
                /^Depends: / && package == kernel { match($0, /linux-image-[^ ,]* \(= [^)]*\)/)
                    split(substr($0, RSTART, RLENGTH), image, /[ ()=]+/); printf " %s:%s=%s", image[1], kernel_arch, image[2] }')
        [ "$(echo "$wanted" | wc -w)" -eq "$(($(echo "$packages" | wc -w) + 1))" ] && [ "${wanted#" linux-image-"}" != "$wanted" ] ||
            skip "apt knows not all of $kernel $packages for $guest_name$hint"
    fi
    kernel=$(echo "$wanted" | sed -n 's/^ \(linux-image-[^:]*\):.*/\1/p')
    release=${kernel#linux-image-}

    kept_modules="dummy_hcd libcomposite usb_f_fs usb_f_ss_lb virtio_pci 9pnet_virtio 9p"
    # Its files have the modes the packages give them, its folders 0755,
    # whatever the caller's umask.
    made_of="$wanted
kept modules: $kept_modules and the driver of usb:v1A86p7523
modes: the packages', folders made 0755"
    [ -n "$libc" ] || made_of="$made_of
no C library: busybox, base-passwd's passwd.master and group.master${device_tree:+
device tree: $device_tree, its watchdog disabled}"
    if [ "$(cat "$cache/made-of" 2>/dev/null)" != "$made_of" ]; then
        echo "$guest_name: making the guest of$wanted" >&2
        # Made beside the cache and moved into place, so that a run at the
        # same time sees the old guest or the new one, never half of one.
        mkdir -p "$cache_root/$suite" 2>/dev/null && new=$(mktemp -d "$cache.new.XXXXXX" 2>/dev/null) ||
            skip "cannot write the guest's cache $cache_root (a read-only source tree? set USBPROBE_GUEST_CACHE_DIR)"
        # (This process's own trap: a guest half made goes.)
        trap 'rm -rf "$new"' EXIT
        mkdir "$new/debs" "$new/root"
        # shellcheck disable=SC2086
        (cd "$new/debs" && apt_of_suite apt-get -q -o APT::Sandbox::User=root download $wanted) >"$new/download.log" 2>&1 ||
            skip "cannot download the packages of $guest_name: apt-get download failed (no network, or apt's lists are out of date: apt-get update)"
        root=$new/root
        for deb in "$new"/debs/*.deb; do
            dpkg-deb -x "$deb" "$root"
        done
        # Debian 13's packages keep their files in /usr alone (merged /usr):
        # the root's folders of programs and libraries lead there.
        if [ ! -d "$root/bin" ]; then
            mkdir -p "$root/usr/bin" "$root/usr/sbin" "$root/usr/lib"
            for folder in bin sbin lib lib64; do
                [ ! -d "$root/usr/$folder" ] || ln -s "usr/$folder" "$root/$folder"
            done
        fi
        mv "$root"/boot/vmlinu[xz]-"$release" "$new/kernel"
        if [ "$qemu" = qemu-system-x86_64 ]; then
            # The kernel unpacked from its bzImage, where the boot protocol's
            # header places it (less the 4 bytes of its size at the end):
            # qemu starts it at its PVH entry, seconds sooner under TCG.
            number() { od -An -tu"$2" -j "$1" -N "$2" "$new/kernel" | tr -d ' '; }
            at=$((($(number 497 1) + 1) * 512 + $(number 584 4)))
            case $(od -An -tx1 -j $at -N 4 "$new/kernel" | tr -d ' ') in
            fd377a58) unpack="xz -dc" ;;
            28b52ffd) unpack="zstd -dcq" ;;
            *) fail "$kernel's bzImage holds a kernel packed neither with xz nor with zstd" ;;
            esac
            command -v "${unpack%% *}" >/dev/null || skip "no ${unpack%% *} here to unpack $kernel"
            tail -c +$((at + 1)) "$new/kernel" | head -c $(($(number 588 4) - 4)) | $unpack >"$new/vmlinux" &&
                mv "$new/vmlinux" "$new/kernel" || fail "cannot unpack the kernel from $kernel's bzImage"
        fi
        # The device tree that the machine takes from the kernel, with the
        # power management watchdog disabled: the kernel's power domain driver
        # oopses on qemu's model of it. No other device tree (qemu makes the
        # machine's), nor what no program of the guest reads.
        if [ -n "$device_tree" ]; then
            mv "$root/usr/lib/linux-image-$release/$device_tree" "$new/dtb" ||
                fail "$kernel has no device tree $device_tree"
            fdtput -t s "$new/dtb" /soc/watchdog@7e100000 status disabled ||
                fail "cannot disable the watchdog of $device_tree"
        fi
        rm -rf "$root/boot" "$root/usr/lib/linux-image-$release" "$root/usr/share/doc" "$root/usr/share/man" \
            "$root/usr/share/locale" "$root/usr/lib/$(ls "$root/usr/lib" 2>/dev/null | grep -- -linux-gnu | head -n 1)/gconv" \
            "$root/lib/udev/hwdb.d"
        modules=$root/lib/modules/$release
        depmod -b "$root" "$release"
        driver=$(sed -n 's/^alias usb:v1A86p7523d\*[^ ]* //p' "$modules/modules.alias" | head -n 1)
        [ -n "$driver" ] || fail "no module of $kernel has an alias for usb:v1A86p7523"
        mv "$modules/kernel" "$new/all-modules"
        for module in $kept_modules "$driver"; do
            grep "/$module\.ko[^:]*:" "$modules/modules.dep" | tr -d : | tr ' ' '\n'
        done | sort -u | while read -r file; do
            mkdir -p "$(dirname "$modules/$file")"
            mv "$new/all-modules/${file#kernel/}" "$modules/$file"
        done
        rm -rf "$new/all-modules"
        depmod -b "$root" "$release"
        # Without a C library: of the other files, busybox and the users' and
        # groups' master lists alone (not base-passwd's update-passwd).
        [ -n "$libc" ] || find "$root" -mindepth 2 \( -type f -o -type l \) ! -path "$root/*lib/modules/*" \
            ! -path "$root/*bin/busybox" ! -name passwd.master ! -name group.master -delete
        (cd "$root" && find . | LC_ALL=C sort | cpio -o -H newc --quiet) >"$new/base.cpio"
        rm -rf "$root" "$new/debs"
        echo "$made_of" >"$new/made-of"
        rm -rf "$cache.old"
        [ ! -e "$cache" ] || mv "$cache" "$cache.old"
        mv "$new" "$cache"
        rm -rf "$cache.old"
        trap - EXIT
    fi
    touch "$cache/made-of" 2>/dev/null || true
    echo "$cache"
}

boot() {
    memory=512 timeout=600 tcg_cpu=
    while getopts m:t:c: option; do
        case $option in
        m) memory=$OPTARG ;;
        t) timeout=$OPTARG ;;
        c) tcg_cpu=$OPTARG ;;
        *) fail "usage: debian_vm.sh boot [-m MIB] [-t SECONDS] [-c CPU] ROW SUITE CACHE RUN INITRD APPEND [QEMU_OPTION...]" ;;
        esac
    done
    shift $((OPTIND - 1))
    guest "$1" "$2" "$3"
    run=$4 initrd=$5 append=$6
    shift 6
    [ -f "$cache/kernel" ] || fail "$guest_name has no kernel in $cache: debian_vm.sh prepare first"
    kernel=$(sed -n '1s/^ \(linux-image-[^:]*\):.*/\1/p' "$cache/made-of")
    [ -z "$tcg_cpu" ] || cpu=$tcg_cpu
    # KVM where it works, for a kernel of this machine's processor: a guest
    # that does not start within 30 s under it falls back to TCG, and the
    # cache remembers that KVM does not work here.
    accelerator=tcg
    case $(uname -m)-$processor in
    "$processor-$processor" | x86_64-i686)
        [ -w /dev/kvm ] && [ "$(cat "$cache_root/kvm" 2>/dev/null)" != "does not work" ] && accelerator=kvm ;;
    esac
    if [ $accelerator = kvm ] && ! boot_with kvm "$@"; then
        echo "$guest_name: KVM does not start the guest here ($(grep -m 1 -i error "$run/qemu.log" || echo no guest after 30 s)); TCG instead" >&2
        echo "does not work" 2>/dev/null >"$cache_root/kvm" || true
        accelerator=tcg
    fi
    if [ $accelerator = tcg ] && ! boot_with tcg "$@"; then
        fail "$guest_name: the guest did not start"
    fi
    ended=$(date +%s.%N)
    awk -v a="$started" -v b="$booted" -v c="$ended" -v what="$guest_name: $kernel in $qemu with $accelerator" \
        'BEGIN { printf "%s: booted in %.1f s, %.1f s in all\n", what, b - a, c - a }' >&2
    [ "$qemu_status" -eq 0 ] || fail "$guest_name: qemu ended with the exit status $qemu_status"
}

# boot_with ACCELERATOR [QEMU_OPTION...]: fails if the guest does not start
# within 30 s.
boot_with() {
    accelerator=$1
    shift
    case $accelerator-$cpu in
    kvm-*) processor_option="-cpu host" ;;
    tcg--) processor_option= ;;
    *) processor_option="-cpu $cpu" ;;
    esac
    : >"$run/console"
    started=$(date +%s.%N)
    # shellcheck disable=SC2086
    timeout "$timeout" "$qemu" -M "$machine" $processor_option -accel "$accelerator" -m "$memory" \
        -nodefaults -no-reboot -display none -serial "file:$run/console" -kernel "$cache/kernel" -initrd "$initrd" \
        ${device_tree:+-dtb "$cache/dtb"} -append "console=$serial quiet panic=-1 $append" "$@" >"$run/qemu.log" 2>&1 &
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
    # The guest's end is the kernel's last line, "reboot: Power down" (or
    # "System halted" on a machine the kernel cannot power off, raspi0). qemu
    # ends by itself then on most machines, not on all: one that still runs a
    # second later is ended here, and that is a normal end.
    powered_off=
    while kill -0 $qemu_pid 2>/dev/null; do
        if grep -q -e 'reboot: Power down' -e 'reboot: System halted' "$run/console"; then
            [ -n "$powered_off" ] && kill $qemu_pid 2>/dev/null && break
            powered_off=yes
            sleep 1
        else
            sleep 0.2
        fi
    done
    qemu_status=0
    wait $qemu_pid || qemu_status=$?
    [ -z "$powered_off" ] || qemu_status=0
}

command=${1:-}
[ $# -eq 0 ] || shift
case $command in
prepare) [ $# -eq 3 ] || fail "usage: debian_vm.sh prepare ROW SUITE CACHE"; prepare "$@" ;;
boot) boot "$@" ;;
apt) [ $# -ge 2 ] || fail "usage: debian_vm.sh apt SUITE CACHE [COMMAND [ARGUMENT...]]"; private_apt "$@" ;;
*) fail "usage: debian_vm.sh prepare|boot|apt ..." ;;
esac
