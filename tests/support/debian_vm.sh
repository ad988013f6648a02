#!/bin/sh
# Boots Debian's own kernel of an architecture in qemu-system, for the tests that need a real kernel.
# Usage: debian_vm.sh prepare ROW SUITE CACHE
#        debian_vm.sh boot [-m MIB] [-t SECONDS] [-c CPU] ROW SUITE CACHE RUN INITRD APPEND [QEMU_OPTION...]
#        debian_vm.sh apt SUITE CACHE [COMMAND [ARGUMENT...]]
#   (the real-kernel tests run it through real_kernel/boot_deb.sh; in_debian_vm.sh too)
# ROW is a preset of the map, or an architecture (its first row); SUITE a Debian release (the
# row's first kernel of it) or one entry SUITE:FLAVOUR of the row's kernels column. How each
# architecture's kernel boots (the flavour, the qemu-system program, machine, processor,
# console, the form of the kernel's image and the device tree) comes from the map of the
# builds, cmake/targets.txt: the kernels column of the guest's row names SUITE's flavour, and a
# flavour that is another row's arch boots as that row does: that row's kernel of SUITE, with
# its qemu-system, machine, processor, console, image and dtb (scripts/targets PRESET
# kernel:ENTRY says which).
#
# prepare: makes, or takes from CACHE, the guest's base and prints its folder
#   (CACHE/SUITE/ARCH; CACHE/SUITE/ROW-FLAVOUR for a static file's row):
#   kernel, base.cpio, made-of, and dtb where the map gives the machine a
#   device tree from the kernel package (raspi0). The base is Debian's
#   packages of the row's ARCH in SUITE, downloaded with apt-get download and
#   only unpacked, never installed: the archive's current kernel, busybox,
#   udev, the tool's libraries and the libraries these depend on; for a row of
#   one static file (package tgz), the kernel, busybox-static and
#   base-passwd's passwd and group master lists alone, no C library. Of the
#   kernel's modules it keeps the USB core, the gadget side, the module that
#   modules.alias gives for 1A86:7523, and virtio's PCI transport with 9p, by
#   which a guest reaches this machine's files; depmod indexes them for
#   busybox's modprobe and udev. This machine's own release comes through its
#   apt lists, any other through a private apt tree in CACHE/apt.
#
# boot: boots the prepared kernel with INITRD as its initramfs and the kernel
#   command line APPEND, and waits until the guest powers off; the guest's
#   init must print "usbprobe-guest: kernel ..." first. It uses KVM where KVM
#   starts the guest and TCG elsewhere (KVM that failed once stays off for
#   CACHE); -c names the processor under TCG instead of the map's, -m the
#   memory (512 MiB, the only size raspi0 has), -t the time allowed (600 s).
#   Leaves the guest's console in RUN/console and qemu's output in
#   RUN/qemu.log, and prints which kernel ran how, with its times. The
#   guest's power-off ends qemu (why: EVIDENCE.md, Static files). Fails where
#   the guest does not start or qemu ends otherwise than by the guest's power-off.
#
# apt: runs apt-get or apt-cache on the private apt tree of SUITE in CACHE/apt,
#   which holds the indexes of every architecture a guest of SUITE can have;
#   without COMMAND, only makes the tree or fetches its indexes again.
#
# Exits 77 (CTest's skipped), saying why, where this machine lacks something:
# a program, the network for a first download, a writable cache, apt's lists
# of an architecture. Exits 1 where something failed, and where the map
# gives a kernel that cannot be booted.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
top=$here/../..
targets=$top/scripts/targets
umask 022
. "$here/verdicts.sh"
# The modules every guest keeps, with the driver of the bridge.
kept_modules="dummy_hcd libcomposite usb_f_fs usb_f_ss_lb virtio_pci 9pnet_virtio 9p"

# The architectures whose kernels or userlands the map gives SUITE, with commas.
architectures_of() (
    for row in $(sh "$targets" arch!=-); do
        for entry in $(sh "$targets" "$row" kernels | tr , ' '); do
            [ "${entry%%:*}" = "$1" ] || continue
            # The row's arch, and its kernel's: the row's own, or the arch
            # that the flavour names.
            sh "$targets" "$row" arch "kernel:$entry" | {
                read -r arch && read -r kernel_row _ && echo "$arch" &&
                    if [ "$kernel_row" = "$row" ]; then echo "$arch"; else echo "${entry#*:}"; fi
            }
        done
    done | sort -u | paste -sd ,
)
private_apt() (
    suite=$1 cache_root=$2
    shift 2
    exec sh "$top/scripts/private-apt" "$cache_root/apt" "$suite" "$(architectures_of "$suite")" "$@"
)
# Whether SUITE is this machine's own release, the one the map builds this
# machine's architecture on: its apt lists, with the release's updates, serve
# it (scripts/install-deps adds the other architectures). Elsewhere, in
# scripts/in-debian say, a private tree serves it, fetched again daily.
machine_has() {
    [ "$1" = "$(sed -n 's/^VERSION_CODENAME=//p' /etc/os-release)" ] &&
        [ "$1" = "$(sh "$targets" "$(sh "$targets" arch="$(dpkg --print-architecture)" | head -n 1)" suite 2>/dev/null)" ]
}

# get KEY GUEST: the value of KEY in GUEST, what guest printed.
get() {
    printf '%s\n' "$2" | sed -n "s/^$1=//p"
}

# guest ROW SUITE CACHE: where the guest's kernel and base are kept, how they
# are named and how its kernel boots, from the map, as KEY=VALUE lines: row,
# arch, suite, cache_root, kernel (its package), kernel_arch, libc (yes or
# empty), name, cache, apt (machine or private), and the map's qemu_system,
# qemu_package, machine, cpu, console, processor, image and dtb of the row
# whose kernel it boots. Fails where the map has no such row or kernel.
guest() (
    row=$1 entry=$2 cache_root=$3 suite=${2%%:*}
    presets=$(sh "$targets") || exit 1
    if ! printf '%s\n' "$presets" | grep -qxF -- "$row"; then
        row=$(sh "$targets" arch="$1" | head -n 1)
        [ -n "$row" ] || fail "the map of the builds has no architecture or preset $1"
    fi
    arch=$(sh "$targets" "$row" arch)
    boots=$(sh "$targets" "$row" "kernel:$entry") || exit 1
    kernel_row=${boots% *} flavour=${boots#* }
    kernel_arch=$(sh "$targets" "$kernel_row" arch)
    echo "row=$row"
    echo "arch=$arch"
    echo "suite=$suite"
    echo "cache_root=$cache_root"
    echo "kernel=linux-image-$flavour"
    echo "kernel_arch=$kernel_arch"
    # The rows of one static file (package tgz) boot guests without a C
    # library: busybox-static, and the kernel's modules, alone.
    if [ "$(sh "$targets" "$row" package)" = tgz ]; then
        echo "libc="
        echo "name=$row on Debian $suite's $flavour kernel ($kernel_arch), no C library"
        echo "cache=$cache_root/$suite/$row-$flavour"
    else
        echo "libc=yes"
        echo "name=$arch Debian $suite"
        echo "cache=$cache_root/$suite/$arch"
    fi
    if machine_has "$suite"; then echo apt=machine; else echo apt=private; fi
    set -- qemu_system qemu_package machine cpu console processor image dtb
    sh "$targets" "$kernel_row" "$@" | awk -v names="$*" 'BEGIN { split(names, name, " ") } { print name[NR] "=" $0 }'
)

# guest_apt GUEST COMMAND [ARGUMENT...]: apt-get or apt-cache on the guest's
# release, reading the indexes of its architecture and its kernel's alone.
guest_apt() (
    guest=$1
    shift
    [ "$(get apt "$guest")" = private ] || exec "$@"
    command=$1 arch=$(get arch "$guest")
    shift
    private_apt "$(get suite "$guest")" "$(get cache_root "$guest")" "$command" -o APT::Architecture="$arch" \
        -o APT::Architectures="$arch,$(get kernel_arch "$guest")" "$@"
)
# The folder of apt's lists that serve the guest.
lists_of() {
    if [ "$(get apt "$1")" = machine ]; then
        echo /var/lib/apt/lists
    else
        echo "$(get cache_root "$1")/apt/$(get suite "$1")/var/lib/apt/lists"
    fi
}

# libraries GUEST: the packages of the guest's base, but the kernel: busybox,
# base-passwd's users, udev and the tool's libraries, with libkmod and what it
# loads (its .note.dlopen: liblzma and libzstd); then every library these
# depend on, to the end. Without a C library: busybox-static and base-passwd.
libraries() (
    guest=$1 arch=$(get arch "$1")
    [ -n "$(get libc "$guest")" ] || { echo base-passwd busybox-static; exit 0; }
    packages="base-passwd busybox-static udev libusb-1.0-0 libstdc++6 libkmod2 liblzma5 libzstd1"
    more=$packages
    while [ -n "$more" ]; do
        set --
        for package in $more; do set -- "$@" "$package:$arch"; done
        depends=$(guest_apt "$guest" apt-cache show --no-all-versions "$@" 2>/dev/null |
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
    echo "$packages"
)

# versions GUEST PACKAGES: " PACKAGE:ARCH=VERSION" of the kernel's image, then
# of each package, at the versions the archive has now.
versions() (
    guest=$1 packages=$2 arch=$(get arch "$1") kernel=$(get kernel "$1") kernel_arch=$(get kernel_arch "$1")
    set -- "$kernel:$kernel_arch"
    for package in $packages; do set -- "$@" "$package:$arch"; done
    wanted=$(guest_apt "$guest" apt-cache show --no-all-versions "$@" 2>/dev/null |
        awk -v arch="$arch" -v kernel="$kernel" -v kernel_arch="$kernel_arch" '
            /^Package: / { package = $2 }
            /^Version: / { if (package != kernel) printf " %s:%s=%s", package, arch, $2 }
            /^Depends: / && package == kernel { match($0, /linux-image-[^ ,]* \(= [^)]*\)/)
                split(substr($0, RSTART, RLENGTH), image, /[ ()=]+/); printf " %s:%s=%s", image[1], kernel_arch, image[2] }')
    # No kernel where apt knows the kernel's architecture: the map's flavour
    # is wrong; anything else missing: this machine's lists lack it.
    if [ "${wanted#" linux-image-"}" = "$wanted" ] &&
        guest_apt "$guest" apt-cache show --no-all-versions "busybox-static:$kernel_arch" >/dev/null 2>&1; then
        fail "$(get name "$guest"): Debian $(get suite "$guest") has no $kernel for $kernel_arch: the map's kernel is wrong"
    fi
    [ "$(echo "$wanted" | wc -w)" -eq "$(($(echo "$packages" | wc -w) + 1))" ] ||
        skip "apt knows not all of $kernel $packages for $(get name "$guest")$(hint "$guest")"
    echo "$wanted"
)
hint() {
    [ "$(get apt "$1")" = private ] ||
        echo " (add the architecture: dpkg --add-architecture $(get arch "$1"); apt-get update)"
}

# wanted GUEST: what the guest is made of, at the versions the archive has
# now: as the cache last found them, unless apt's lists, this script or the
# map have changed since (apt-cache takes seconds, with no cache of its own
# between calls on some machines).
wanted() (
    made_of=$(get cache "$1")/made-of
    if [ -f "$made_of" ] && [ -z "$(find "$(lists_of "$1")" "$0" "$top/cmake/targets.txt" -newer "$made_of" -print 2>/dev/null | head -n 1)" ]; then
        head -n 1 "$made_of"
    else
        packages=$(libraries "$1") || exit
        versions "$1" "$packages"
    fi
)

# made_of GUEST WANTED: the guest's description, its cache's made-of. Its
# files have the modes the packages give them, its folders 0755, whatever the
# caller's umask.
made_of() {
    printf '%s\n' "$2" "kept modules: $kept_modules and the driver of usb:v1A86p7523" "modes: the packages', folders made 0755"
    [ -n "$(get libc "$1")" ] || echo "no C library: busybox, base-passwd's passwd.master and group.master"
    [ "$(get image "$1")" = as-is ] || echo "kernel image: $(get image "$1")"
    [ "$(get dtb "$1")" = - ] || echo "device tree: $(get dtb "$1")"
}

# The programs prepare needs, and the guest's qemu-system.
needs_programs() {
    qemu=$(get qemu_system "$1")
    command -v "$qemu" >/dev/null || skip "no $qemu here (Debian: $(get qemu_package "$1"))"
    for program in apt-cache apt-get dpkg-deb depmod cpio; do
        command -v $program >/dev/null || skip "no $program here"
    done
    [ "$(get dtb "$1")" = - ] || command -v fdtput >/dev/null || skip "no fdtput here (Debian: device-tree-compiler)"
}

prepare() {
    guest=$(guest "$@") || exit
    needs_programs "$guest"
    [ "$(get apt "$guest")" = machine ] || private_apt "$(get suite "$guest")" "$3" ||
        skip "cannot fetch the indexes of $(get name "$guest")"
    wanted=$(wanted "$guest") || exit
    made_of=$(made_of "$guest" "$wanted")
    cache=$(get cache "$guest")
    if [ "$(cat "$cache/made-of" 2>/dev/null)" != "$made_of" ]; then
        echo "$(get name "$guest"): making the guest of$wanted" >&2
        if ! mkdir -p "${cache%/*}" 2>/dev/null || [ ! -w "${cache%/*}" ]; then
            skip "cannot write the guest's cache $3 (a read-only source tree? set USBPROBE_GUEST_CACHE_DIR)"
        fi
        # Made beside the cache and put in its place once made.
        sh "$top/scripts/cache" "$cache" "$made_of" sh "$0" make-guest "$1" "$2" "$3" "$wanted" || exit
    fi
    touch "$cache/made-of" 2>/dev/null || true
    echo "$cache"
}

# make_guest GUEST WANTED NEWDIR: the guest's kernel, base.cpio, dtb (where
# the map gives one) and download.log, made in NEWDIR of the packages WANTED.
make_guest() {
    guest=$1 wanted=$2 new=$3
    release=$(echo "$wanted" | sed -n 's/^ linux-image-\([^:]*\):.*/\1/p')
    root=$new/root
    mkdir "$new/debs" "$root"
    set --
    for package in $wanted; do set -- "$@" "$package"; done
    (cd "$new/debs" && guest_apt "$guest" apt-get -q -o APT::Sandbox::User=root download "$@") >"$new/download.log" 2>&1 ||
        skip "cannot download the packages of $(get name "$guest"): apt-get download failed (no network, or apt's lists are out of date: apt-get update)"
    unpack "$new/debs" "$root"
    mv "$root"/boot/vmlinu[xz]-"$release" "$new/kernel"
    [ "$(get image "$guest")" = as-is ] || unpack_bzimage "$new/kernel" "$(get kernel "$guest")"
    [ "$(get dtb "$guest")" = - ] || device_tree "$(get dtb "$guest")" "$root/usr/lib/linux-image-$release" "$new/dtb"
    # No other device tree (qemu makes the machine's), nor what no program of
    # the guest reads.
    rm -rf "${root:?}/boot" "$root/usr/lib/linux-image-$release" "$root/usr/share/doc" "$root/usr/share/man" \
        "$root/usr/share/locale" "$root"/usr/lib/*-linux-gnu*/gconv "$root/lib/udev/hwdb.d"
    keep_modules "$root" "$release" "$(get kernel "$guest")"
    # Without a C library: of the other files, busybox and the users' and
    # groups' master lists alone (not base-passwd's update-passwd).
    [ -n "$(get libc "$guest")" ] || find "$root" -mindepth 2 \( -type f -o -type l \) ! -path "$root/*lib/modules/*" \
        ! -path "$root/*bin/busybox" ! -name passwd.master ! -name group.master -delete
    (cd "$root" && find . | LC_ALL=C sort | cpio -o -H newc --quiet) >"$new/base.cpio"
    rm -rf "$root" "$new/debs"
}

# unpack DEBS ROOT: the packages in DEBS unpacked into ROOT. Debian 13's
# packages keep their files in /usr alone (merged /usr): the root's folders
# of programs and libraries lead there.
unpack() {
    for deb in "$1"/*.deb; do
        dpkg-deb -x "$deb" "$2"
    done
    [ ! -d "$2/bin" ] || return 0
    mkdir -p "$2/usr/bin" "$2/usr/sbin" "$2/usr/lib"
    for folder in bin sbin lib lib64; do
        [ ! -d "$2/usr/$folder" ] || ln -s "usr/$folder" "$2/$folder"
    done
}

# unpack_bzimage FILE PACKAGE: FILE, PACKAGE's bzImage, replaced by the kernel
# unpacked from it, where the boot protocol's header places it (less the 4
# bytes of its size at the end): qemu starts it at its PVH entry.
unpack_bzimage() {
    at=$((($(number "$1" 497 1) + 1) * 512 + $(number "$1" 584 4)))
    case $(od -An -tx1 -j $at -N 4 "$1" | tr -d ' ') in
    fd377a58) unpack="xz -dc" ;;
    28b52ffd) unpack="zstd -dcq" ;;
    *) fail "$2's bzImage holds a kernel packed neither with xz nor with zstd" ;;
    esac
    command -v "${unpack%% *}" >/dev/null || skip "no ${unpack%% *} here to unpack $2"
    if ! tail -c +$((at + 1)) "$1" | head -c $(($(number "$1" 588 4) - 4)) | $unpack >"$1.unpacked"; then
        fail "cannot unpack the kernel from $2's bzImage"
    fi
    mv "$1.unpacked" "$1"
}
# number FILE OFFSET BYTES: the little-endian number there.
number() {
    od -An -tu"$3" -j "$2" -N "$3" "$1" | tr -d ' '
}

# device_tree DTB FOLDER TARGET: the map's dtb, FILE.dtb[:NODE:PROPERTY=VALUE...]:
# FOLDER/FILE.dtb moved to TARGET, with each string property set (raspi0's
# power management watchdog disabled: the kernel's power domain driver oopses
# on qemu's model of it).
device_tree() {
    file=${1%%:*} fixes=${1#"${1%%:*}"}
    mv "$2/$file" "$3" || fail "the kernel package has no device tree $file"
    while [ -n "$fixes" ]; do
        fixes=${fixes#:} node=${fixes%%:*}
        fixes=${fixes#"$node":} setting=${fixes%%:*}
        fixes=${fixes#"$setting"}
        fdtput -t s "$3" "$node" "${setting%%=*}" "${setting#*=}" || fail "cannot set $node $setting in $file"
    done
}

# keep_modules ROOT RELEASE PACKAGE: of the kernel's modules, the kept ones
# and the driver that modules.alias gives the bridge, with what they depend
# on, indexed by depmod.
keep_modules() {
    modules=$1/lib/modules/$2
    depmod -b "$1" "$2"
    driver=$(sed -n 's/^alias usb:v1A86p7523d\*[^ ]* //p' "$modules/modules.alias" | head -n 1)
    [ -n "$driver" ] || fail "no module of $3 has an alias for usb:v1A86p7523"
    mv "$modules/kernel" "$1.modules"
    for module in $kept_modules "$driver"; do
        grep "/$module\.ko[^:]*:" "$modules/modules.dep" | tr -d : | tr ' ' '\n'
    done | sort -u | while read -r file; do
        mkdir -p "$(dirname "$modules/$file")"
        mv "$1.modules/${file#kernel/}" "$modules/$file"
    done
    rm -rf "$1.modules"
    depmod -b "$1" "$2"
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
    [ $# -ge 6 ] || fail "usage: debian_vm.sh boot [-m MIB] [-t SECONDS] [-c CPU] ROW SUITE CACHE RUN INITRD APPEND [QEMU_OPTION...]"
    guest=$(guest "$1" "$2" "$3") || exit
    run=$4 initrd=$5 append=$6
    shift 6
    cache=$(get cache "$guest") name=$(get name "$guest") qemu=$(get qemu_system "$guest")
    [ -f "$cache/kernel" ] || fail "$name has no kernel in $cache: debian_vm.sh prepare first"
    kernel=$(sed -n '1s/^ \(linux-image-[^:]*\):.*/\1/p' "$cache/made-of")
    [ "$(get dtb "$guest")" = - ] || set -- -dtb "$cache/dtb" "$@"
    set -- -M "$(get machine "$guest")" -m "$memory" -nodefaults -no-reboot -display none -serial "file:$run/console" \
        -kernel "$cache/kernel" -initrd "$initrd" -append "console=$(get console "$guest") quiet panic=-1 $append" "$@"
    # KVM where it works, for a kernel of this machine's processor: a guest
    # that does not start within 30 s under it falls back to TCG, and the
    # cache remembers that KVM does not work here.
    accelerator=$(accelerator "$guest")
    if [ "$accelerator" = kvm ] && ! times=$(boot_with "$run" "$timeout" "$qemu" -accel kvm -cpu host "$@"); then
        echo "$name: KVM does not start the guest here ($(grep -m 1 -i error "$run/qemu.log" || echo no guest after 30 s)); TCG instead" >&2
        echo "does not work" 2>/dev/null >"$(get cache_root "$guest")/kvm" || true
        accelerator=tcg
    fi
    if [ "$accelerator" = tcg ]; then
        # One guest under emulation at a time, from whichever tree or test of
        # the checkout: two would share the machine's cores and each take
        # more than twice as long.
        lock=$(get cache_root "$guest")/tcg.lock
        [ -e "$lock" ] || (umask 0 && : >>"$lock") 2>/dev/null || true
        exec 7<"$lock" || fail "cannot open $lock"
        flock -n 7 || { echo "$name: waiting for another guest under emulation" >&2; flock 7; }
        cpu=${tcg_cpu:-$(get cpu "$guest")}
        [ "$cpu" = - ] || set -- -cpu "$cpu" "$@"
        times=$(boot_with "$run" "$timeout" "$qemu" -accel tcg "$@") || fail "$name: the guest did not start"
    fi
    echo "$times" | awk -v what="$name: $kernel in $qemu with $accelerator" \
        '{ printf "%s: booted in %.1f s, %.1f s in all\n", what, $2 - $1, $3 - $1 }' >&2
    status=${times##* }
    [ "$status" -eq 0 ] || fail "$name: qemu ended with the exit status $status"
}

# accelerator GUEST: kvm where KVM can run the guest's kernel here and has not
# failed before, tcg elsewhere.
accelerator() (
    processor=$(get processor "$1")
    case $(uname -m)-$processor in
    "$processor-$processor" | x86_64-i686)
        if [ -w /dev/kvm ] && [ "$(cat "$(get cache_root "$1")/kvm" 2>/dev/null)" != "does not work" ]; then
            echo kvm
            exit 0
        fi
        ;;
    esac
    echo tcg
)

# boot_with RUN TIMEOUT QEMU [OPTION...]: runs QEMU with its OPTIONs, the
# console in RUN/console, for at most TIMEOUT seconds, and prints when it
# started, when the guest's init began and when qemu ended, and qemu's exit
# status. Fails if the guest does not start within 30 s.
boot_with() (
    run=$1 timeout=$2
    shift 2
    : >"$run/console"
    started=$(date +%s.%N)
    timeout "$timeout" "$@" >"$run/qemu.log" 2>&1 &
    qemu_pid=$!
    tries=300
    until grep -q '^usbprobe-guest: kernel' "$run/console"; do
        tries=$((tries - 1))
        if [ $tries -eq 0 ] || ! kill -0 $qemu_pid 2>/dev/null; then
            kill $qemu_pid 2>/dev/null || true
            wait $qemu_pid || true
            exit 1
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
    status=0
    wait $qemu_pid || status=$?
    [ -z "$powered_off" ] || status=0
    echo "$started $booted $(date +%s.%N) $status"
)

command=${1:-}
[ $# -eq 0 ] || shift
case $command in
prepare) [ $# -eq 3 ] || fail "usage: debian_vm.sh prepare ROW SUITE CACHE"; prepare "$@" ;;
boot) boot "$@" ;;
apt) [ $# -ge 2 ] || fail "usage: debian_vm.sh apt SUITE CACHE [COMMAND [ARGUMENT...]]"; private_apt "$@" ;;
# prepare's own: makes the guest in NEWDIR (through scripts/cache).
make-guest)
    [ $# -eq 5 ] || fail "usage: debian_vm.sh make-guest ROW SUITE CACHE WANTED NEWDIR"
    guest=$(guest "$1" "$2" "$3") || exit
    make_guest "$guest" "$4" "$5"
    ;;
*) fail "usage: debian_vm.sh prepare|boot|apt ..." ;;
esac
