#!/bin/sh
# Runs a command for at most LIMIT seconds; at the limit, shows what still ran and ends all of it.
# Usage: bounded.sh LIMIT COMMAND [ARGUMENT...]
# COMMAND runs in a session of its own. At the limit (or when this script is
# interrupted), the processes of that session and those of the wine prefix
# that WINEPREFIX names (wine's server and services leave the session) are
# listed and ended, and it exits 124. Otherwise it exits with COMMAND's status.
# (Run again as the session's first process, it writes its number, which is
# the session's, and becomes COMMAND.)
if [ "$1" = --session ]; then
    echo $$ >"$2.new" && mv "$2.new" "$2" && shift 2 && exec "$@"
    exit 127
fi
limit=$1
shift
work=$(mktemp -d)
setsid -w sh "$0" --session "$work/session" "$@" &
wrapper=$!
until [ -s "$work/session" ] || ! kill -0 "$wrapper" 2>/dev/null; do sleep 0.1; done
session=$(cat "$work/session" 2>/dev/null)
rm -rf "$work"
# still_running: the processes of the session, and of the wine prefix.
still_running() {
    ps -eo pid=,sid= | awk -v session="$session" '$2 == session { print $1 }'
    [ -z "${WINEPREFIX:-}" ] ||
        grep -lzxF "WINEPREFIX=$WINEPREFIX" /proc/[0-9]*/environ 2>/dev/null | cut -d/ -f3 | grep -vxF "$ancestors"
}
# This script and those that started it share the prefix's variable, and stay.
ancestors=$$
while [ "${ancestors##*
}" -gt 1 ]; do
    ancestors="$ancestors
$(awk '/^PPid:/ { print $2 }' "/proc/${ancestors##*
}/status")"
done
end_all() {
    echo "bounded: $1; these still ran and are ended:"
    ps -o pid,ppid,stat,etime,args -p "$(still_running | paste -sd,)" 2>/dev/null
    kill -TERM "-$session" 2>/dev/null
    [ -z "${WINEPREFIX:-}" ] || [ -z "${USBPROBE_WINE:-}" ] || "${USBPROBE_WINE%/*}/wineserver" -k 2>/dev/null
    sleep 2
    kill -KILL "-$session" 2>/dev/null
    still_running | while read -r process; do kill -KILL "$process" 2>/dev/null; done
    wait "$wrapper"
    exit 124
}
trap 'end_all "interrupted"' INT TERM
deadline=$(($(date +%s) + limit))
while kill -0 "$wrapper" 2>/dev/null; do
    [ "$(date +%s)" -lt "$deadline" ] || end_all "the limit of $limit s is reached"
    sleep 0.5
done
wait "$wrapper"
