#!/bin/sh
# tester's login shell in the seat guest, in logind's session at seat0: runs the tool when the rows ask.
# Usage: exec sh /usr/local/lib/at-the-seat/tester.sh   (from tester's ~/.profile, on tty1)
# The rows ask (ask); this answers (answered) with the tool's out, err and
# status and the cgroup it ran in.
talk=/var/lib/at-the-seat
cut -d' ' -f1 /proc/uptime >$talk/ready-at
echo "$XDG_SESSION_ID" >$talk/session.new && mv $talk/session.new $talk/session
while :; do
    if [ -e $talk/ask ]; then
        printf '\n\n' | sh -c "cat /proc/self/cgroup >$talk/cgroup; exec usbprobe" >$talk/out 2>$talk/err
        echo $? >$talk/status
        rm -f $talk/ask
        : >$talk/answered
    fi
    sleep 0.1
done
