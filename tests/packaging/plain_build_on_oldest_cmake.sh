#!/bin/sh
# Checks that the plain build works with the oldest CMake that CMakeLists.txt names, Debian 11's.
# Usage: plain_build_on_oldest_cmake.sh   (scripts/check runs it; needs root, through sudo if
#   need be, and about 120 MB of downloads)
# The plain build (cmake -S . -B build && cmake --build build) works with the
# oldest CMake that CMakeLists.txt's cmake_minimum_required names. It sets up
# Debian 11, whose CMake is 3.18, in a chroot (debootstrap, from the archive
# that serves this machine's own release), builds the last commit there as a
# user would, runs the tool, which finds no USB there, and installs it, with
# no format of Debian's own among what it installs. It fails as well
# when CMakeLists.txt names a version other than the one it proves.
[ "$(id -u)" -eq 0 ] || exec sudo sh "$0" "$@"
top=$(cd "$(dirname "$0")/../.." && pwd)
release=bullseye
work=$(mktemp -d)
root=$work/root
# debootstrap mounts /proc, /sys and (in a container) the device nodes while
# it runs, and unmounts them when it ends; if it was cut short, unmount them
# here, and never let rm cross into a mounted file system.
cleanup() {
    awk -v under="$work/" 'index($2, under) == 1 { print $2 }' /proc/mounts | sort -r |
        while read -r mount; do umount -l "$mount"; done
    rm -rf --one-file-system "$work"
}
trap cleanup EXIT
trap 'exit 1' HUP INT TERM

. /etc/os-release
archive=$(apt-get indextargets --format '$(REPO_URI)' "Release: $VERSION_CODENAME" "Created-By: Packages" | head -n 1)
[ -n "$archive" ] || { echo "apt's sources name no archive for $VERSION_CODENAME (run apt-get update first)"; exit 1; }

debootstrap --variant=minbase --include=cmake,g++,make,pkg-config,libusb-1.0-0-dev \
    "$release" "$root" "$archive" >"$work/log" 2>&1 ||
    { tail -n 30 "$work/log"; echo "cannot set up Debian $release from $archive"; exit 1; }

required=$(sed -n 's/^cmake_minimum_required(VERSION \([0-9]*\.[0-9]*\).*/\1/p' "$top/CMakeLists.txt")
proven=$(chroot "$root" cmake --version | sed -n '1s/^cmake version \([0-9]*\.[0-9]*\).*/\1/p')
if [ "$required" != "$proven" ]; then
    echo "CMakeLists.txt names CMake ${required:-no version} as its minimum, but this test builds with $proven"
    exit 1
fi

git -C "$top" archive --prefix=usbprobe/ HEAD | tar -x -C "$root" || { echo "cannot unpack the last commit"; exit 1; }
. "$top/tests/support/words.sh"
printf '%b' "$USBPROBE_PROMPT$USBPROBE_CLOSED" >"$work/expected"
# The README's command that copies the example rule, less its sudo, into /rules.d/.
rule_command=$(sed -n 's|^sudo \(cp .*60-usbprobe\.rules"\) /etc/udev/rules\.d/$|\1 /rules.d/|p' "$top/README.md")
chroot "$root" /usr/bin/env -i PATH=/usr/bin:/bin HOME=/root RULE_COMMAND="$rule_command" sh -c \
    'cd /usbprobe && cmake -S . -B build && cmake --build build && ./build/usbprobe </dev/null >/output &&
     cmake --install build --prefix /installed && cd /installed && find . -type f | LC_ALL=C sort >/installed-files &&
     mkdir /rules.d && PATH=/installed/bin:$PATH sh -c "$RULE_COMMAND"' \
    >"$work/log" 2>&1 ||
    { cat "$work/log"; echo "the plain build, its run, its install or the README's copy of the rule fails with CMake $proven on Debian $release"; exit 1; }
if ! cmp -s "$work/expected" "$root/output"; then
    echo "built with CMake $proven on Debian $release, the tool printed:"
    od -c "$root/output"
    exit 1
fi
expected='./bin/usbprobe
./share/doc/usbprobe/LICENSE
./share/doc/usbprobe/README.md
./share/doc/usbprobe/examples/60-usbprobe.rules
./share/man/man1/usbprobe.1.gz'
if [ "$(cat "$root/installed-files")" != "$expected" ]; then
    echo "built with CMake $proven on Debian $release, cmake --install installs:"
    cat "$root/installed-files"
    exit 1
fi
cmp -s "$root/rules.d/60-usbprobe.rules" "$top/doc/60-usbprobe.rules" ||
    { echo "the README's command does not copy the example rule of an install under another prefix: $rule_command"; exit 1; }
echo "the plain build of the last commit works with CMake $proven (Debian $release), the minimum CMakeLists.txt names"
