#!/bin/sh
# Checks that scripts/install-deps would work on a machine with nothing installed.
# Usage: setup_resolves_from_nothing.sh   (scripts/check runs it first)
# For each kind (run, test), install-deps has apt simulate its install against
# an empty dpkg status, with the host's architecture and the foreign ones it
# adds, from the indexes this machine's apt has. Fails where the set does not
# resolve, where a package named without an architecture would come from a
# foreign one (why: EVIDENCE.md, apt), or one named NAME:ARCH from another
# architecture.
set -eu
install_deps=$(dirname "$0")/../../scripts/install-deps
host=$(dpkg --print-architecture)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
for kind in run test; do
    sh "$install_deps" list "$kind" | sed 1d >"$work/packages"
    sh "$install_deps" simulate "$kind" >"$work/apt.log" 2>&1 ||
        { echo "install-deps $kind: apt cannot resolve its packages from nothing:"; cat "$work/apt.log"; failed=1; continue; }
    # "Inst NAME[:ARCH] (VERSION SUITE [ARCH])": NAME and the architecture it comes from.
    sed -n 's/^Inst \([^ :]*\)[^ ]* .*\[\([^]]*\)\])*$/\1 \2/p' "$work/apt.log" >"$work/installed"
    while read -r package; do
        name=${package%%:*} wanted=${package#*:}
        [ "$wanted" != "$package" ] || wanted="$host all"
        got=$(awk -v name="$name" '$1 == name { print $2 }' "$work/installed" | paste -sd ' ')
        for arch in $wanted; do
            case " $got " in *" $arch "*) continue 2 ;; esac
        done
        echo "install-deps $kind: $package would come from ${got:-nowhere (apt would not install it)}, not from $(echo "$wanted" | sed 's/ / or /')"
        failed=1
    done <"$work/packages"
    echo "install-deps $kind: $(wc -l <"$work/packages") packages, $(wc -l <"$work/installed") with what they need, resolve from nothing"
done
exit "$failed"
