#!/bin/sh
# Usage: in_debian_vm.sh CACHE WRITABLE -- COMMAND [ARGUMENT...]
# Runs COMMAND, a command of this machine, on Debian's amd64 kernel in
# qemu-system-x86_64, where 32-bit x86 code runs even when this machine's
# kernel refuses it. The guest's root is this machine's root, shared read-only
# over virtio-9p; /tmp and the folder WRITABLE are shared writable at their own
# paths; /run, /dev/shm and the home folder are the guest's own, and so is the
# temporary folder (TMPDIR) that COMMAND gets. COMMAND runs
# in the current folder, with this process's environment, user and group; its
# output, error stream and exit status become this script's. The kernel comes
# from the cache that the real-kernel test keeps (CACHE, made here if need be).
# Prints which accelerator ran and how long the guest took, on the error
# stream. Exits 77 (skipped), saying why, where no guest can be had.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
cache_root=$1 writable=$(cd "$2" && pwd)
shift 3
run=
arch=amd64
# qemu's fullest processor under TCG runs wine's 32-bit code wrongly; its
# default one does not.
tcg_cpu="-cpu qemu64"
guest_memory=2048 guest_timeout=1800
debian_vm=$here/debian_vm.sh
. "$debian_vm"
prepare_guest

run=$(mktemp -d)
quote() { printf "'%s' " "$(printf '%s' "$1" | sed "s/'/'\\\\''/g")"; }
{
    export -p
    echo "export TMPDIR=/run/tmp"
    printf 'cd %s\n' "$(quote "$PWD")"
    printf 'exec '
    for argument in "$@"; do quote "$argument"; done
    echo
} >"$run/command"
mkdir "$run/root"
{
    echo "uid=$(id -u) gid=$(id -g)"
    printf 'home=%s\n' "$(quote "${HOME:-/}")"
    printf 'run=%s writable=%s\n' "$(quote "$run")" "$(quote "$writable")"
} >"$run/root/guest"
install -m 0755 "$here/in_debian_vm_init.sh" "$run/root/init"
(cd "$run/root" && find . | LC_ALL=C sort | cpio -o -H newc --quiet) | cat "$cache/base.cpio" - >"$run/initrd"

share() { echo "-virtfs local,path=$1,mount_tag=$2,security_model=none,multidevs=remap$3"; }
# shellcheck disable=SC2046
boot_guest "$run/initrd" "" $(share / root ,readonly=on) $(share /tmp tmp "") $(share "$writable" writable "") $(share "$run" run "")

guest_timing >&2
if [ "$qemu_status" -ne 0 ] || [ ! -f "$run/status" ]; then
    tr -d '\r' <"$console" | tail -n 40 >&2
    cat "$run/qemu.log" >&2
    fail "the command did not end in the guest (qemu's exit status: $qemu_status)"
fi
cat "$run/out"
cat "$run/err" >&2
exit "$(cat "$run/status")"
