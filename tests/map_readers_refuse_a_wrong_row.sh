#!/bin/sh
# Checks that both readers of the map of the builds refuse a map with one fault, naming its row.
# Usage: map_readers_refuse_a_wrong_row.sh SOURCE_DIR [CMAKE]   (ctest -R map_readers_refuse_a_wrong_row)
# Both readers, scripts/targets and cmake/Targets.cmake, must read the map as it is, and refuse
# a copy of it with one fault, whatever row they are asked about, naming the faulty row and its
# line.
set -eu
source_dir=$1 cmake=${2:-cmake}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/clean/scripts" "$work/clean/cmake"
cp "$source_dir/scripts/targets" "$work/clean/scripts/"
cp "$source_dir"/cmake/*.cmake "$source_dir/cmake/targets.txt" "$work/clean/cmake/"
# CMake's reader, asked about ci's row.
printf 'include(%s/map/cmake/Targets.cmake)\nusbprobe_target(ci arch arch)\n' "$work" >"$work/read.cmake"
failed=0

# said COMMAND...: "read" where COMMAND succeeds, else its error on one line.
said() {
    if "$@" 2>"$work/error" >/dev/null; then echo read; else tr '\n' ' ' <"$work/error" | tr -s ' '; echo; fi
}
# read_map: what each reader says of the map in $work/map, one line each.
read_map() {
    said sh "$work/map/scripts/targets"
    said sh "$work/map/scripts/targets" ci kernels
    said "$cmake" -P "$work/read.cmake"
}

cp -R "$work/clean" "$work/map"
if [ "$(read_map | sort -u)" != read ]; then
    echo "the map as it is: not read by each reader:"; read_map
    failed=1
fi

# Each fault: the row, then the sed script that makes it (or the toolchain
# file that goes).
while read -r row fault; do
    rm -rf "$work/map"
    cp -R "$work/clean" "$work/map"
    case $fault in
    no-toolchain-file) rm "$work/map/cmake/$row.cmake" ;;
    *) sed -i "$fault" "$work/map/cmake/targets.txt" ;;
    esac
    line=$(grep -n "^$row " "$work/map/cmake/targets.txt" | tail -n 1 | cut -d : -f 1)
    read_map | while read -r said; do
        case $said in
        *"cmake/targets.txt:$line: row $row: "*) ;;
        *) echo "$row, $fault: a reader said: $said"; exit 1 ;;
        esac
    done || failed=1
done <<'EOF'
static-i686 /^static-i686 /s/ pentium2 / /
linux-arm64 /^linux-arm64 /s/ deb / rpm /
static-aarch64 no-toolchain-file
static-aarch64 /^static-riscv64 /s/^static-riscv64/static-aarch64/
linux-armhf /^linux-armhf /s/ qemu-system-arm / system-arm /
linux-arm64 /^linux-arm64 /s/trixie:arm64/trixie-arm64/
static-x86_64 /^static-x86_64 /s/,trixie:amd64/,trixie:amd64,bullseye:amd64/
linux-riscv64 /^linux-riscv64 /s/ as-is / bzImage /
static-armv6l /^static-armv6l /s/:status=disabled/:status/
linux-arm64 /^ci /{h;d;};/^linux-arm64 /G
EOF
exit $failed
