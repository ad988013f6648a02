#!/bin/sh
# Runs a command with wine in a prefix of this checkout, on this machine or in a virtual machine, bounded as a whole.
# Usage: with_wine.sh WINE PREFIX WINEARCH WINDOWS SERVICES COMMAND [ARGUMENT...]
# COMMAND runs with USBPROBE_WINE naming the wine loader WINE, in the prefix
# PREFIX of the kind WINEARCH (win64, win32), which reports WINDOWS (winxp) or
# wine's "default"; SERVICES: see in_wine_prefix.sh, which makes the prefix
# where it is missing and runs COMMAND.
# One run at a time uses a prefix, from whichever tree of the checkout: it
# holds PREFIX.lock until every process of the run has ended.
# USBPROBE_WINEPREFIX_BASE names the prefix that PREFIX is a copy of, made
# again when the base is: the copy shares with the base, by hard links, the
# DLLs and programs that wine only reads; the rest (its registry) is its own.
# USBPROBE_WINEPREFIX_WOW64 names a 64-bit prefix whose DLLs a 32-bit prefix
# made here shares where they are the same bytes as its 32-bit side. Wine must
# never write into a file that two prefixes share.
# A 32-bit loader needs a machine that executes 32-bit x86 code. Where this
# one cannot, or USBPROBE_EMULATE_32BIT_X86=1 asks to act as if, the run is in
# a virtual machine on Debian's amd64 kernel (tests/support/in_debian_vm.sh).
# The run ends within USBPROBE_WINE_LIMIT seconds (540): at the limit, every
# process of it ends (wine's, the wineserver, umockdev, the virtual machine)
# and it fails with what it printed.
wine=$1 prefix=$2 windows=$4 services=$5
export USBPROBE_WINE="$1" WINEPREFIX="$2" WINEARCH="$3" WINEDEBUG=-all
shift 5
base=${USBPROBE_WINEPREFIX_BASE:-} wow64=${USBPROBE_WINEPREFIX_WOW64:-}
limit=${USBPROBE_WINE_LIMIT:-540}
here=$(cd "$(dirname "$0")" && pwd)
started=$(date +%s)

[ -x "$wine" ] || { echo "no wine loader at $wine: run scripts/install-deps test"; exit 1; }
mkdir -p "$(dirname "$prefix")"
exec 9>>"$prefix.lock"
flock -n 9 || { echo "waiting for another run in the wine prefix $prefix"; flock 9; } ||
    { echo "cannot lock $prefix.lock"; exit 1; }

# copy PREFIX NEW [WINDOWS]: NEW becomes a copy of PREFIX (reporting WINDOWS,
# if given) that shares with it, by hard links, the DLLs and programs that
# wine only reads; the rest, which wine writes (its registry), is its own.
copy() {
    rm -rf "$2" && cp -al "$1" "$2" &&
        (cd "$2" && find . -type f ! -path './drive_c/windows/system32/*' ! -path './drive_c/windows/syswow64/*' \
            ! -path './drive_c/windows/winsxs/*' ! -path ./wine-version -exec sh -c 'for f; do cp -p "$f" "$f.own" && mv "$f.own" "$f" || exit; done' sh {} +) &&
        if [ -n "${3:-}" ]; then
            sed -i '/^"Version"="[a-z0-9]*"$/d' "$2/user.reg" &&
                { [ "$3" = default ] || printf '\n[Software\\\\Wine]\n"Version"="%s"\n' "$3" >>"$2/user.reg"; }
        fi
}
# copy_of_base: PREFIX becomes a copy of the base, which reports WINDOWS.
copy_of_base() {
    exec 8>>"$base.lock"
    flock 8 || { echo "cannot lock $base.lock"; return 1; }
    [ -f "$base/wine-version" ] || { echo "no wine prefix at $base to copy"; return 1; }
    { copy "$base" "$prefix.new" "$windows" && rm -rf "$prefix" && mv -T "$prefix.new" "$prefix"; } ||
        { echo "cannot copy the wine prefix $base"; return 1; }
    exec 8>&-
}
# share_wow64_files: in the 32-bit prefix made by this wine, each file of the
# DLL trees that the 64-bit prefix holds with the same bytes, from before the
# prefix was made, becomes a link to that one. Here, not in a virtual
# machine, where it takes minutes.
share_wow64_files() {
    [ -n "$made" ] && [ -n "$wow64" ] && [ -z "$base" ] && [ -f "$prefix/wine-version" ] && [ -d "$wow64/drive_c/windows/syswow64" ] || return 0
    (cd "$prefix/drive_c/windows" && find system32 winsxs -type f) | while IFS= read -r file; do
        case $file in
        system32/*) theirs=$wow64/drive_c/windows/syswow64/${file#system32/} ;;
        *) theirs=$wow64/drive_c/windows/$file ;;
        esac
        ours=$prefix/drive_c/windows/$file
        [ -f "$theirs" ] || continue
        ! same_file "$ours" "$theirs" || continue
        [ -z "$(find "$theirs" -newer "$prefix/wine-version")" ] || continue
        # Linked, then compared: the file compared is the one linked.
        ln "$theirs" "$ours.shared" 2>/dev/null || continue
        if cmp -s "$ours" "$ours.shared"; then mv -f "$ours.shared" "$ours" || exit; else rm -f "$ours.shared"; fi
    done
}
# same_file A B: whether A and B are one file.
same_file() {
    [ -e "$1" ] && [ "$(stat -Lc %d:%i "$1")" = "$(stat -Lc %d:%i "$2" 2>/dev/null)" ]
}
# shared_files_written: the files the prefix shares with another that are
# newer than the prefix.
shared_files_written() {
    [ ! -f "$WINEPREFIX/wine-version" ] || find "$WINEPREFIX" -type f -links +1 -newer "$WINEPREFIX/wine-version"
}

# The copy shares the base's record of the wine that made it.
if [ -n "$base" ] && ! same_file "$base/wine-version" "$prefix/wine-version"; then
    copy_of_base || exit 1
fi
# A made prefix is used through a copy of its own for each run, removed after:
# a run ended midway (its wineserver killed while saving the registry, which
# it leaves empty) must leave the prefix as it was for the next.
made=$prefix
if [ -f "$prefix/wine-version" ]; then
    export WINEPREFIX="$prefix.run.$$"
    copy "$prefix" "$WINEPREFIX" || { echo "cannot copy the wine prefix $prefix for this run"; exit 1; }
    trap 'rm -rf "$WINEPREFIX"' EXIT
    made=
fi
why=
if [ "$(od -An -tx1 -j4 -N1 "$wine" | tr -d ' ')" = 01 ]; then
    if [ "${USBPROBE_EMULATE_32BIT_X86:-}" = 1 ]; then
        why="USBPROBE_EMULATE_32BIT_X86=1 acts as if this machine could not execute 32-bit x86 code"
    elif ! version=$("$wine" --version 2>&1); then
        why="this machine cannot execute 32-bit x86 code, so not the 32-bit wine loader $wine either ($version)"
    fi
fi
status=0
if [ -n "$why" ]; then
    echo "wine: in a virtual machine: $why"
    # The guest's own bound ends the command first, with what it printed.
    USBPROBE_GUEST_LIMIT=$limit sh "$here/../support/in_debian_vm.sh" "$USBPROBE_GUEST_CACHE_DIR" \
        "$(dirname "$prefix")" -- sh "$here/../support/bounded.sh" $((limit - 30)) sh "$here/in_wine_prefix.sh" "$windows" "$services" "$@" 2>&1 || status=$?
    share_wow64_files || { echo "cannot share the files of $wow64 in $prefix"; status=1; }
    where="in a virtual machine"
else
    sh "$here/../support/bounded.sh" "$limit" sh "$here/in_wine_prefix.sh" "$windows" "$services" "$@" || status=$?
    share_wow64_files || { echo "cannot share the files of $wow64 in $prefix"; status=1; }
    where=natively
fi
written=$(shared_files_written)
[ -z "$written" ] || { echo "wine wrote into files that the prefix shares with another:"; echo "$written"; status=1; }
echo "wine: ran $where in $(($(date +%s) - started)) s"
exit "$status"
