#!/bin/sh
# Checks that a bounded run ends, at its limit, every process it started, those that left its session too.
# Usage: bounded_run_ends_its_whole_tree.sh   (ctest --preset ci -R bounded_run)
# The command run starts a child in its session, one in a session of its own
# that carries the run's WINEPREFIX (as wine's server does), and hangs. At a
# limit of 2 s, bounded.sh must exit 124 within a few seconds, having listed
# and ended all three; a command that ends sooner gives its own status.
bounded=$(dirname "$0")/support/bounded.sh
work=$(mktemp -d)
# Each process is known by its time to sleep, made of this process's number.
first=1${$}0 second=1${$}1 third=1${$}2
trap 'pkill -KILL -f "^sleep 1$$[012]$" 2>/dev/null; rm -rf "$work"' EXIT
export WINEPREFIX="$work/prefix"
failed=0
started=$(date +%s)
sh "$bounded" 2 sh -c "env -u WINEPREFIX sleep $first & setsid sleep $second & env -u WINEPREFIX sleep $third" >"$work/out" 2>&1
status=$?
took=$(($(date +%s) - started))
[ "$status" -eq 124 ] || { echo "a hung run exited with $status, not 124"; failed=1; }
[ "$took" -le 10 ] || { echo "a hung run with a limit of 2 s took $took s"; failed=1; }
for seconds in $first $second $third; do
    grep -q "sleep $seconds" "$work/out" || { echo "the report does not list sleep $seconds"; failed=1; }
    ! pgrep -fx "sleep $seconds" >/dev/null || { echo "sleep $seconds still runs"; failed=1; }
done
sh "$bounded" 2 sh -c 'exit 3'
[ $? -eq 3 ] || { echo "a run that ended by itself did not give its own status"; failed=1; }
if [ "$failed" -eq 0 ]; then
    echo "the hung run ended in $took s, its three processes listed and ended"
else
    cat "$work/out"
fi
exit "$failed"
