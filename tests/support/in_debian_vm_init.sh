#!/bin/busybox sh
# shellcheck shell=dash
# The first process of in_debian_vm.sh's guest: runs the host's command as the host's user, then powers off.
# Usage: /init of in_debian_vm.sh's initramfs, beside /guest (uid, gid, home, run and writable)
# Mounts the host's root read-only and its /tmp and the writable and run folders writable over
# 9p, gives the guest its own /run (with the temporary folder that TMPDIR names), /dev, home, and
# wine's server folder in /tmp (why: EVIDENCE.md, 32-bit x86), and runs there the command that
# run/command holds, as the host's user, with its output, error stream and exit status in the run
# folder. Then the machine powers off.
/bin/busybox mkdir -p /proc /sys /dev /host /sbin /usr/sbin /usr/bin
/bin/busybox --install -s
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
echo "usbprobe-guest: kernel $(uname -r) $(uname -m), up after $(cut -d' ' -f1 /proc/uptime) s"
# uid, gid, home, run and writable, as in_debian_vm.sh wrote them.
# shellcheck source=/dev/null
. /guest
: "${uid:?}" "${gid:?}" "${home:?}" "${run:?}" "${writable:?}"
nine_p="trans=virtio,version=9p2000.L,msize=512000"
{
    modprobe virtio_pci && modprobe 9pnet_virtio && modprobe 9p &&
    mount -t 9p -o "$nine_p,ro,cache=loose" root /host &&
    mount -t proc proc /host/proc && mount -t sysfs sysfs /host/sys &&
    mount -t devtmpfs devtmpfs /host/dev && mkdir -p /host/dev/pts /host/dev/shm &&
    mount -t devpts -o ptmxmode=0666 devpts /host/dev/pts &&
    mount -t tmpfs tmpfs /host/dev/shm && chown "$uid:$gid" /host/dev/shm &&
    mount -t tmpfs tmpfs /host/run && mkdir -m 1777 /host/run/tmp &&
    mount -t 9p -o "$nine_p,cache=loose" tmp /host/tmp &&
    mkdir -p "/host/tmp/.wine-$uid" && mount -t tmpfs -o mode=0700 tmpfs "/host/tmp/.wine-$uid" &&
    chown "$uid:$gid" "/host/tmp/.wine-$uid" &&
    { [ "$home" = / ] || [ ! -d "/host$home" ] || { mount -t tmpfs tmpfs "/host$home" && chown "$uid:$gid" "/host$home"; }; } &&
    mount -t 9p -o "$nine_p,cache=loose" writable "/host$writable" &&
    mount -t 9p -o "$nine_p,cache=loose" run "/host$run"
} || { echo "usbprobe-guest: cannot mount the host's folders"; poweroff -f; }
chroot /host /usr/bin/setpriv --reuid="$uid" --regid="$gid" --clear-groups /bin/sh "$run/command" \
    </dev/null >"/host$run/out" 2>"/host$run/err"
echo $? >"/host$run/status"
sync
poweroff -f
