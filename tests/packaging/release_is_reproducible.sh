#!/bin/sh
# Checks that the release of the last commit builds the same bytes in a varied build environment.
# Usage: release_is_reproducible.sh [TESTED_RELEASE_DIR]   (scripts/check runs it)
# Builds the release of the last commit twice with reprotest, the second time in another build
# environment: another build path, user and group, home, umask (077), locale, time zone,
# environment variables, and a clock more than a year ahead. The two builds must give the same
# bytes; where they differ, reprotest shows how with diffoscope. Both builds take libusb's
# source from one verified copy, the glibc sources from the tested release's, and the builds
# made on another Debian release take a copy of the systems the tested release was built in, so
# neither needs the network, and neither builds the tests. TESTED_RELEASE_DIR, a release
# scripts/release made of this tree, whose trees ran the tests, must have come out the same too
# (unless the tree has uncommitted changes, which that release holds and these builds do not).
set -u
top=$(cd "$(dirname "$0")/../.." && pwd)
tested=${1:+$(cd "$1" && pwd)}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
git clone -q "$top" "$work/source"
# libusb's verified source and the glibc sources the tested release fetched,
# where the builds look for them (inside the checkout, which the system of
# another release sees too).
mkdir -p "$work/source/build/deps/libusb-source" "$work/source/build/deps/source"
(cd "$top/build/deps/libusb-i686-w64-mingw32/source" && cp -- * "$work/source/build/deps/libusb-source/")
cp "$top"/build/deps/source/glibc-source_*_all.deb "$work/source/build/deps/source/"
# The Debian 13 system, where the other user can reach it (the checkout's
# folder may be closed to others): linked where it can be, else copied.
cp -al "$top/build/deps/systems" "$work/systems" 2>/dev/null ||
    { rm -rf "$work/systems" && cp -a "$top/build/deps/systems" "$work/systems"; }

# reprotest 0.7.23 runs "sudo -h localhost ...", which Debian 12's sudo
# refuses (-h names a host only with -l); the host is this one anyway.
mkdir "$work/bin"
printf '#!/bin/sh\n[ "$1" = -h ] && shift 2\nexec /usr/bin/sudo "$@"\n' >"$work/bin/sudo"
chmod 755 "$work/bin/sudo"

cd "$work/source" || exit 1
# reprotest's own umask variation is 0002; the experiment's umask comes
# through its environment variation instead, to be the strictest one.
PATH=$work/bin:$PATH reprotest --verbose --variations=-all,+environment,+build_path,+user_group,+home,+locales,+timezone,+time \
    --vary=environment.variables+=USBPROBE_BUILD_UMASK=077 \
    --vary=user_group.available+=usbprobe-build:usbprobe-build \
    --vary=time.faketimes=+400days --vary=locales.locale=fr_CH.UTF-8 \
    "umask \${USBPROBE_BUILD_UMASK:-022} && USBPROBE_SYSTEMS_DIR=$work/systems sh scripts/release -DBUILD_TESTING=OFF" \
    'build/release/*' -- null \
    >"$work/log" 2>&1
status=$?
grep -E '^INFO:reprotest(\.build)?:(build "experiment|[A-Z_]+ variation)' "$work/log"
if [ "$status" -eq 0 ]; then
    echo "the release came out the same in a varied build environment:"
    grep -E '^[0-9a-f]{64}  \./build/release/' "$work/log" | sed 's|  \./build/release/|  |' | sort -u >"$work/sums"
    cat "$work/sums"
    if [ -n "$tested" ] && [ -z "$(git -C "$top" status --porcelain --untracked-files=no)" ]; then
        if grep -qx "$(sha256sum <"$tested/SHA256SUMS" | cut -d' ' -f1)  SHA256SUMS" "$work/sums"; then
            echo "and so did the tested release in $tested"
        else
            echo "the tested release in $tested differs from these builds; its SHA256SUMS:"
            cat "$tested/SHA256SUMS"
            status=1
        fi
    fi
else
    tail -n 80 "$work/log"
    echo "the release differs between build environments (reprotest status $status)"
fi
exit "$status"
