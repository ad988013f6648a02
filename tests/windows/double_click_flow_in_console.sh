#!/bin/sh
# Checks, in a real Win32 console under wine, that the exe does what a double-click promises.
# Usage: double_click_flow_in_console.sh EXE   (under with_wine.sh; ctest -R double_click_flow_in_console)
# Runs the exe in a terminal (a tmux pane of a tmux server of its own), where
# wine gives it a real Win32 console with line input and echo, as a
# double-click does on Windows, types at it and reads the screen at every
# step:
#   Enter, Enter     the prompt is on screen before any key; after the first
#                    Enter the report is on screen and the exe still waits;
#                    after the second it ends with status 0
#   x Enter          it ends right after the report, with status 0
#   Ctrl+C           at the prompt, it ends
# Wine gives the exe no USB device, so the report is the one for a host
# without devices.
exe=$1
work=$(mktemp -d)
# shellcheck disable=SC2154 # server is set by the trap's own loop
trap 'for server in "$work"/tmux-*; do tmux -S "$server" kill-server 2>/dev/null; done; rm -rf "$work"' EXIT
. "$(dirname "$0")/../support/words.sh"
# The prompt's line of text, and the report, as the screen shows them.
prompt=$(printf '%b' "$USBPROBE_PROMPT" | sed '/^$/d')
report=$(printf '%b' "$USBPROBE_CLOSED")
# Wine's first start in a prefix takes long under emulation.
patience=${USBPROBE_CONSOLE_PATIENCE:-240}
failed=0
fail() { echo "$flow: $*"; echo "--- the screen:"; screen; echo "---"; failed=1; }

screen() { $tmux capture-pane -p -t flow | sed -e :a -e '/^\n*$/{$d;N;ba' -e '}'; }
on_screen() { screen | grep -qxF "$1"; }
ended() { [ -s "$work/status" ]; }
# wait_for SECONDS CONDITION..., looking twice a second: in a virtual machine
# under emulation, looking more often slows the exe down.
wait_for() {
    tries=$(($1 * 2))
    shift
    until "$@"; do
        tries=$((tries - 1))
        [ $tries -gt 0 ] || return 1
        sleep 0.5
    done
}
start() {
    flow=$1
    rm -f "$work/status"
    tmux="tmux -S $work/tmux-$flow -f /dev/null"
    $tmux new-session -d -s flow -x 100 -y 30 \
        "\"\$USBPROBE_WINE\" \"$exe\"; echo \$? >\"$work/status\"; sleep 600" || { fail "tmux did not start"; return 1; }
    wait_for "$patience" on_screen "$prompt" || { fail "no prompt on screen"; return 1; }
    ! on_screen "$report" || { fail "the report is on screen before any key"; return 1; }
    ! ended || { fail "ended at the prompt"; return 1; }
}
ends_with() { # STATUS
    wait_for 60 ended || { fail "did not end"; return 1; }
    [ "$(cat "$work/status")" = "$1" ] || { fail "ended with status $(cat "$work/status"), not $1"; return 1; }
}

if start enter_enter; then
    $tmux send-keys -t flow Enter
    if ! wait_for 60 on_screen "$report"; then
        fail "no report on screen after Enter"
    elif sleep 2 && ended; then
        fail "ended after the first Enter"
    else
        $tmux send-keys -t flow Enter
        ends_with 0 && echo "$flow: prompt, report after Enter, end with status 0 after the second"
    fi
fi

if start x_enter; then
    $tmux send-keys -t flow x Enter
    ends_with 0 && { on_screen "x" && on_screen "$report" || fail "ended without the report on screen"; } &&
        echo "$flow: ended with status 0 right after the report"
fi

if start ctrl_c; then
    $tmux send-keys -t flow C-c
    if ! wait_for 60 ended; then
        fail "did not end at Ctrl+C"
    elif on_screen "$report"; then
        echo "$flow: ended at Ctrl+C, with the report (status $(cat "$work/status"))"
    else
        echo "$flow: ended at Ctrl+C, without the report (status $(cat "$work/status"))"
    fi
fi
exit "$failed"
