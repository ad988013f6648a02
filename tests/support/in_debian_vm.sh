#!/bin/sh
# Runs a command of this machine on Debian's amd64 kernel in qemu-system-x86_64, where 32-bit x86 code runs even when this machine's kernel refuses it.
# Usage: in_debian_vm.sh CACHE WRITABLE -- COMMAND [ARGUMENT...]
# The guest's root is this machine's root, shared read-only over virtio-9p;
# /tmp and the folder WRITABLE are shared writable at their own paths; /run,
# /dev/shm and the home folder are the guest's own, and so is the temporary
# folder (TMPDIR) that COMMAND gets. COMMAND runs in the current folder, with
# this process's environment, user and group; its output, error stream and
# exit status become this script's. The kernel comes from the cache that the
# real-kernel tests keep (CACHE, made here if need be). The guest has the
# machine's processors (two at most) and ends within USBPROBE_GUEST_LIMIT
# seconds (1800); where it does not end by itself, what COMMAND printed and
# the guest's console are shown. Exits 77 (skipped), saying why, where no
# guest can be had.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
cache_root=$1 writable=$(cd "$2" && pwd)
shift 3
debian_vm=$here/debian_vm.sh
. "$here/verdicts.sh"
# The first release whose amd64 kernel the map of the builds names.
suite=$(sh "$here/../../scripts/targets" "$(sh "$here/../../scripts/targets" arch=amd64 | head -n 1)" kernels | sed 's/:.*//')
# The guest's own files get the modes it needs, whatever the caller's umask.
umask 022
cache=$(sh "$debian_vm" prepare amd64 "$suite" "$cache_root") || exit

run=$(mktemp -d)
trap 'rm -rf "$run"' EXIT
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
# qemu's fullest processor under TCG runs wine's 32-bit code wrongly; its
# default one does not.
booted=yes
# shellcheck disable=SC2046
sh "$debian_vm" boot -c qemu64 -m 2048 -t "${USBPROBE_GUEST_LIMIT:-1800}" amd64 "$suite" "$cache_root" "$run" "$run/initrd" "" \
    -smp "$(($(nproc) < 2 ? $(nproc) : 2))" $(share / root ,readonly=on) $(share /tmp tmp "") $(share "$writable" writable "") $(share "$run" run "") || booted=

if [ -z "$booted" ] || [ ! -f "$run/status" ]; then
    echo "--- what the command printed:" >&2
    cat "$run/out" "$run/err" >&2 2>/dev/null
    echo "--- the guest's console:" >&2
    tr -d '\r' <"$run/console" | tail -n 40 >&2
    cat "$run/qemu.log" >&2
    fail "the command did not end in the guest"
fi
cat "$run/out"
cat "$run/err" >&2
status=$(cat "$run/status")
# 124: the command's own bound ended it.
[ "$status" -ne 124 ] || { echo "--- the guest's console:" >&2; tr -d '\r' <"$run/console" | tail -n 40 >&2; }
exit "$status"
