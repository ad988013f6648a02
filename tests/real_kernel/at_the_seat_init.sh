#!/bin/sh
# The seat guest's first process: sets up tester, its autologin on tty1 and the rows' service, then systemd.
# Usage: rdinit=/usr/local/lib/at-the-seat/init.sh, beside settings (plugdev=kept or removed) and the rows' scripts
here=/usr/local/lib/at-the-seat
# Where the rows ask and tester's shell answers: tester's own folder.
talk=/var/lib/at-the-seat
plugdev=
# shellcheck source=/dev/null
. $here/settings
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
mount -t proc proc /proc
echo "usbprobe-guest: kernel $(uname -r) $(uname -m), up after $(cut -d' ' -f1 /proc/uptime) s"
# As on systems without the group: gone before udev reads any rule, and
# not made again at boot by systemd-sysusers (whose basic.conf, as Debian
# ships it, has it).
if [ "$plugdev" = removed ]; then
    sed -i '/^plugdev:/d' /etc/group /etc/gshadow
    mkdir -p /etc/sysusers.d
    grep -v '^g plugdev ' /usr/lib/sysusers.d/basic.conf >/etc/sysusers.d/basic.conf
fi
useradd --create-home --shell /bin/sh tester
mkdir -m 0755 $talk && chown tester:tester $talk
echo "exec sh $here/tester.sh" >>/home/tester/.profile
units=/etc/systemd/system
mkdir -p $units/getty@tty1.service.d $units/multi-user.target.wants
cat >$units/getty@tty1.service.d/autologin.conf <<UNIT
[Service]
ExecStart=
ExecStart=-/sbin/agetty --autologin tester --noclear %I \$TERM
UNIT
# The rows start with udev, the tool's installation in parallel to the rest
# of the boot.
cat >$units/at-the-seat.service <<UNIT
[Unit]
Description=usbprobe at the seat
DefaultDependencies=no
After=systemd-udevd.service
[Service]
Type=exec
ExecStart=/bin/sh $here/rows.sh
UNIT
ln -s ../at-the-seat.service $units/multi-user.target.wants/
# The serial console carries the rows, not a login prompt; and what has no
# part in seats, logins, udev or apt does not start, for time under TCG.
for unit in serial-getty@ttyS0.service tmp.mount dev-hugepages.mount dev-mqueue.mount sys-kernel-debug.mount \
    sys-kernel-tracing.mount sys-fs-fuse-connections.mount proc-sys-fs-binfmt_misc.automount \
    systemd-binfmt.service modprobe@drm.service modprobe@efi_pstore.service modprobe@fuse.service \
    systemd-pstore.service systemd-hwdb-update.service systemd-journal-catalog-update.service \
    systemd-update-done.service ldconfig.service systemd-random-seed.service timers.target; do
    ln -s /dev/null $units/$unit
done
umount /proc
exec /lib/systemd/systemd
