# Debian's own kernel of an architecture in qemu-system, for the tests that
# need a real kernel: sourced by tests/real_kernel/on_debian_kernel.sh and
# tests/support/in_debian_vm.sh, which set `arch` (a Debian architecture),
# `cache_root` (where guests are kept between runs) and maybe `suite`: the
# Debian release the guest is made of, bookworm (Debian 12, the default) or
# trixie (Debian 13). skip exits 77 (CTest's skipped), saying why; fail exits 1.
#
# prepare_guest makes, or takes from the cache, the guest's base: Debian's
# packages of that architecture and release, downloaded with apt-get download
# and only unpacked, never installed: the archive's current kernel, busybox,
# udev and the libraries the tool and udev link or load. Debian 12's come
# through this machine's apt lists, Debian 13's through private_apt. Of the
# kernel's modules it keeps the USB core, the gadget side, the module that
# modules.alias gives for 1A86:7523, and virtio's PCI transport with 9p, by
# which a guest reaches this machine's files; depmod indexes them for
# busybox's modprobe and udev. It sets cache (the folder holding kernel and
# base.cpio), kernel (the package), release (its version) and guest_name
# ("arm64 Debian 13", say).
#
# boot_guest INITRD APPEND [QEMU_OPTION...] starts the kernel with INITRD as
# its initramfs and waits until it powers off. It uses KVM where KVM starts the
# guest and TCG elsewhere (KVM that failed once stays off for the cache); the
# guest's init must print "usbprobe-guest: kernel ..." first. It sets console
# (the guest's console log), accelerator, started, booted, ended and
# qemu_status, and fails if the guest does not start. `run` must name a folder
# of the caller's.
#
# private_apt SUITE COMMAND... runs apt-get or apt-cache on the indexes of
# Debian's SUITE alone (scripts/private-apt), kept in the cache for every
# architecture a guest can have; COMMAND reads those of the architectures that
# its -o APT::Architectures=... names, or else all.

skip() {
    echo "skipped: $*"
    exit 77
}
fail() {
    echo "$*" >&2
    exit 1
}

suite=${suite:-bookworm}
case $suite in
bookworm) guest_name="$arch Debian 12" ;;
trixie) guest_name="$arch Debian 13" ;;
*) fail "no guest is made of the Debian release $suite" ;;
esac
# The kernel's own architecture, where it differs from the userland's.
kernel_arch=$arch
case $suite-$arch in
*-amd64) qemu=qemu-system-x86_64 package=qemu-system-x86 kernel=linux-image-amd64 machine="-M pc" serial=ttyS0 ;;
bookworm-i386) qemu=qemu-system-i386 package=qemu-system-x86 kernel=linux-image-686 machine="-M pc" serial=ttyS0 ;;
# Debian 13 has no 32-bit x86 kernel: its amd64 one runs the 32-bit userland.
trixie-i386) qemu=qemu-system-x86_64 package=qemu-system-x86 kernel=linux-image-amd64 kernel_arch=amd64 machine="-M pc" serial=ttyS0 ;;
*-arm64) qemu=qemu-system-aarch64 package=qemu-system-arm kernel=linux-image-arm64 machine="-M virt -cpu cortex-a57" serial=ttyAMA0 ;;
*-armhf) qemu=qemu-system-arm package=qemu-system-arm kernel=linux-image-armmp machine="-M virt,highmem=off -cpu cortex-a15" serial=ttyAMA0 ;;
trixie-riscv64) qemu=qemu-system-riscv64 package=qemu-system-misc kernel=linux-image-riscv64 machine="-M virt" serial=ttyS0 ;;
*) skip "no virtual machine of $guest_name" ;;
esac
# Under TCG a PC takes the fullest processor TCG offers, unless the caller
# names one.
tcg_cpu=${tcg_cpu:--cpu max}
guest_new=
trap 'rm -rf "$guest_new" "$run"' EXIT
private_apt_script=$(cd "$(dirname "$debian_vm")/../../scripts" && pwd)/private-apt

private_apt() {
    of=$1
    shift
    architectures="amd64 i386 arm64 armhf"
    [ "$of" = bookworm ] || architectures="$architectures riscv64"
    PRIVATE_APT_ARCHITECTURES=$architectures sh "$private_apt_script" "$cache_root/apt/$of" "$of" deb "$@"
}

prepare_guest() {
    cache=$cache_root/$suite/$arch
    command -v $qemu >/dev/null || skip "no $qemu here (Debian: $package)"
    for program in apt-cache apt-get dpkg-deb depmod cpio; do
        command -v $program >/dev/null || skip "no $program here"
    done

    # Besides busybox and base-passwd's users: udev, the tool's libraries,
    # and those that udev and its programs link (readelf -d) or load (their
    # .note.dlopen: libkmod, and libkmod's liblzma and libzstd).
    packages="base-passwd busybox-static udev libudev1 libusb-1.0-0 libc6 libgcc-s1 libstdc++6
              libkmod2 libacl1 libblkid1 libcap2 libselinux1 libpcre2-8-0 libzstd1 liblzma5"
    if [ "$suite" = bookworm ]; then
        packages="$packages libssl3"
        lists=/var/lib/apt/lists hint=" (add the architecture: dpkg --add-architecture $arch; apt-get update)"
        apt_of_suite() { "$@"; }
    else
        # Debian 13's udev has libsystemd-shared apart, which links more.
        packages="$packages libssl3t64 libsystemd-shared libmount1 libcrypt1 libpam0g libaudit1 libcap-ng0
                  libseccomp2 zlib1g"
        lists=$cache_root/apt/$suite/lists hint=
        # apt reads the indexes of these architectures alone.
        apt_of_suite() {
            command=$1
            shift
            private_apt "$suite" "$command" -o APT::Architecture="$arch" -o APT::Architectures="$arch,$kernel_arch" "$@"
        }
        private_apt "$suite" true || skip "cannot fetch the indexes of $guest_name"
    fi
    # What the guest is made of, at the versions the archive has now: as the
    # cache last found them, unless apt's lists or this script have changed
    # since (apt-cache takes seconds, with no cache of its own between calls
    # on some machines).
    if [ -f "$cache/made-of" ] && [ -z "$(find "$lists" "$debian_vm" -newer "$cache/made-of" -print 2>/dev/null | head -n 1)" ]; then
        wanted=$(head -n 1 "$cache/made-of")
    else
        wanted=$(apt_of_suite apt-cache show --no-all-versions "$kernel:$kernel_arch" $(for package in $packages; do echo "$package:$arch"; done) 2>/dev/null |
            awk -v arch="$arch" -v kernel="$kernel" -v kernel_arch="$kernel_arch" '
                /^Package: / { package = $2 }
                /^Version: / { if (package != kernel) printf " %s:%s=%s", package, arch, $2 }
                /^Depends: / && package == kernel { match($0, /linux-image-[^ ,]* \(= [^)]*\)/)
                    split(substr($0, RSTART, RLENGTH), image, /[ ()=]+/); printf " %s:%s=%s", image[1], kernel_arch, image[2] }')
    fi
    kernel=$(echo "$wanted" | sed -n 's/^ \(linux-image-[^:]*\):.*/\1/p')
    release=${kernel#linux-image-}
    [ -n "$kernel" ] && [ "$(echo "$wanted" | wc -w)" -eq "$(($(echo "$packages" | wc -w) + 1))" ] ||
        skip "apt knows not all of $kernel $packages for $guest_name$hint"

    kept_modules="dummy_hcd libcomposite usb_f_fs usb_f_ss_lb virtio_pci 9pnet_virtio 9p"
    made_of="$wanted
kept modules: $kept_modules and the driver of usb:v1A86p7523"
    if [ "$(cat "$cache/made-of" 2>/dev/null)" != "$made_of" ]; then
        echo "$guest_name: making the guest of$wanted"
        # Made beside the cache and moved into place, so that a run at the
        # same time sees the old guest or the new one, never half of one.
        mkdir -p "$cache_root/$suite" 2>/dev/null && guest_new=$(mktemp -d "$cache.new.XXXXXX" 2>/dev/null) ||
            skip "cannot write the guest's cache $cache_root (a read-only source tree? set USBPROBE_GUEST_CACHE_DIR)"
        new=$guest_new
        mkdir "$new/debs" "$new/root"
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
        if [ "$kernel_arch" = amd64 ]; then
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
        # Neither the device trees of the arm kernels (qemu makes the
        # machine's) nor what no program of the guest reads.
        rm -rf "$root/boot" "$root/usr/lib/linux-image-$release" "$root/usr/share/doc" "$root/usr/share/man" \
            "$root/usr/share/locale" "$root/usr/lib/$(ls "$root/usr/lib" | grep -- -linux-gnu | head -n 1)/gconv" \
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
        (cd "$root" && find . | LC_ALL=C sort | cpio -o -H newc --quiet) >"$new/base.cpio"
        rm -rf "$root" "$new/debs"
        echo "$made_of" >"$new/made-of"
        rm -rf "$cache.old"
        [ ! -e "$cache" ] || mv "$cache" "$cache.old"
        mv "$new" "$cache"
        rm -rf "$cache.old"
        guest_new=
    fi
    touch "$cache/made-of" 2>/dev/null || true
}

boot_guest() {
    initrd=$1 append=$2
    shift 2
    # KVM where it works: a guest that does not start within 30 s under it
    # falls back to TCG, and the cache remembers that KVM does not work here.
    accelerator=tcg
    if [ "$(uname -m)" = x86_64 ] && { [ "$arch" = amd64 ] || [ "$arch" = i386 ]; }; then
        [ -w /dev/kvm ] && [ "$(cat "$cache_root/kvm" 2>/dev/null)" != "does not work" ] && accelerator=kvm
    fi
    if [ $accelerator = kvm ] && ! boot_with kvm "$initrd" "$append" "$@"; then
        echo "$guest_name: KVM does not start the guest here ($(grep -m 1 -i error "$run/qemu.log" || echo no guest after 30 s)); TCG instead"
        echo "does not work" 2>/dev/null >"$cache_root/kvm" || true
        accelerator=tcg
    fi
    if [ $accelerator = tcg ] && ! boot_with tcg "$initrd" "$append" "$@"; then
        cat "$run/qemu.log" "$console"
        fail "$guest_name: the guest did not start"
    fi
    ended=$(date +%s.%N)
}

# boot_with ACCELERATOR INITRD APPEND [QEMU_OPTION...]: fails if the guest does
# not start within 30 s.
boot_with() {
    accelerator=$1 initrd=$2 append=$3
    shift 3
    case $accelerator-$arch in
    kvm-*) cpu="-cpu host" ;;
    tcg-amd64 | tcg-i386) cpu=$tcg_cpu ;;
    *) cpu= ;;
    esac
    console=$run/console
    : >"$console"
    started=$(date +%s.%N)
    # shellcheck disable=SC2086
    timeout "${guest_timeout:-600}" $qemu $machine $cpu -accel "$accelerator" -m "${guest_memory:-512}" \
        -nodefaults -no-reboot -display none -serial "file:$console" -kernel "$cache/kernel" -initrd "$initrd" \
        -append "console=$serial quiet panic=-1 $append" "$@" >"$run/qemu.log" 2>&1 &
    qemu_pid=$!
    tries=300
    until grep -q '^usbprobe-guest: kernel' "$console"; do
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

# The line the callers print: which kernel ran where, and how long it took.
guest_timing() {
    awk -v a="$started" -v b="$booted" -v c="$ended" -v what="$guest_name: $kernel in $qemu with $accelerator" \
        'BEGIN { printf "%s: booted in %.1f s, %.1f s in all\n", what, b - a, c - a }'
}
