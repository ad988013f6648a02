#!/bin/sh
# Makes the seat guest's Debian system with mmdebstrap, packed as one initramfs; scripts/cache runs it.
# Usage: seat_system.sh APT SUITE INCLUDES NEWDIR   (makes NEWDIR/system.cpio)
#   APT       scripts/private-apt's folder that holds SUITE's indexes (amd64)
#   INCLUDES  what the system holds besides what apt needs (comma-separated)
# Exits 77 (skipped), saying why, where not run as root or where the archive
# cannot be reached; 1 where mmdebstrap fails.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
apt=$1 suite=$2 includes=$3 new=$4
. "$here/../support/verdicts.sh"
[ "$(id -u)" -eq 0 ] || skip "making the Debian $suite system takes root (mmdebstrap's root mode)"
echo "amd64 Debian $suite with systemd: making the system with mmdebstrap"
made_at=$(date +%s)
# The variant with only what apt needs, and INCLUDES; no documentation, manual
# pages, translations, character sets or hardware database. mmdebstrap's apt
# sees the archive as this machine's apt does (a mirror whose Release has
# expired, say), through the private apt tree's sources, binary packages alone.
valid_until=$(apt-config dump | sed -n 's/^Acquire::Check-Valid-Until "\(.*\)";$/\1/p')
check_date=$(apt-config dump | sed -n 's/^Acquire::Check-Date "\(.*\)";$/\1/p')
# (mmdebstrap's hooks get the system's root as $1.)
unwanted="cd \"\$1\" && rm -rf usr/lib/udev/hwdb.bin usr/lib/udev/hwdb.d etc/udev/hwdb.bin usr/lib/x86_64-linux-gnu/gconv \
    etc/dpkg/dpkg.cfg.d/99mmdebstrap etc/apt/apt.conf.d/99mmdebstrap"
grep '^deb ' "$apt/$suite/etc/apt/sources.list" |
    mmdebstrap --variant=apt --architectures=amd64 --include="$includes" \
        --aptopt='Acquire::Languages "none"' \
        ${valid_until:+"--aptopt=Acquire::Check-Valid-Until \"$valid_until\""} \
        ${check_date:+"--aptopt=Acquire::Check-Date \"$check_date\""} \
        --dpkgopt='path-exclude=/usr/share/doc/*' --dpkgopt='path-exclude=/usr/share/man/*' \
        --dpkgopt='path-exclude=/usr/share/info/*' --dpkgopt='path-exclude=/usr/share/locale/*' \
        --dpkgopt='path-exclude=/usr/share/lintian/*' \
        --customize-hook="$unwanted" \
        "$suite" "$new/root" - >"$new/mmdebstrap.log" 2>&1 || {
    tail -n 20 "$new/mmdebstrap.log"
    ! grep -q -i -E 'failed to fetch|temporary failure|could not resolve|unable to connect' "$new/mmdebstrap.log" ||
        skip "cannot download the packages of Debian $suite"
    fail "mmdebstrap could not make the Debian $suite system"
}
# A machine id of its own, so that systemd sees no first boot.
od -An -N16 -tx1 /dev/urandom | tr -d ' \n' >"$new/root/etc/machine-id"
echo >>"$new/root/etc/machine-id"
(cd "$new/root" && find . -mindepth 1 | LC_ALL=C sort | cpio -o -H newc --quiet) >"$new/system.cpio"
packages=$(dpkg-query --admindir="$new/root/var/lib/dpkg" -W -f '${Package}\n' | wc -l)
rm -rf "$new/root" "$new/mmdebstrap.log"
echo "amd64 Debian $suite with systemd: made in $(($(date +%s) - made_at)) s of $packages packages," \
    "$(($(wc -c <"$new/system.cpio") / 1048576)) MiB as its initramfs"
