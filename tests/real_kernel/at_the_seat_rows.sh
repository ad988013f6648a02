#!/bin/sh
# The seat guest's rows, as a system service: one line each on the serial console, then power off.
# Usage: sh /usr/local/lib/at-the-seat/rows.sh   (at-the-seat.service), beside settings, words.sh and gadget.sh
# Each row's line is "ok NAME" or "not ok NAME: WHY". The settings say whether the group plugdev
# stays (plugdev=kept or removed) and how the example rule leaves the bridge's node
# (node_with_rule="MODE OWNER:GROUP"). The tool runs in tester's shell (tester.sh), asked through
# tester's folder.
set -u
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
here=/usr/local/lib/at-the-seat
talk=/var/lib/at-the-seat
node_with_rule=
# shellcheck source=/dev/null
. $here/settings
# The tool's words (printf formats): USBPROBE_LIST_LINE, USBPROBE_OPENED,
# USBPROBE_CLOSED.
# shellcheck source=../support/words.sh
. $here/words.sh
# The bridge as a gadget: plug_in_bridge, bridge_node, wait_until...
# shellcheck source=gadget.sh
. $here/gadget.sh
say() { echo "usbprobe-guest: $*"; }
uptime_s() { cut -d' ' -f1 /proc/uptime; }

example=/usr/share/doc/usbprobe/examples/60-usbprobe.rules

install_deb() {
    (cd $here && DEBIAN_FRONTEND=noninteractive apt install --yes ./usbprobe_*_amd64.deb) >/run/apt.log 2>&1 ||
        { why="apt install failed: $(grep -E '^(E|W):' /run/apt.log | tr '\n' ' ')"; return 1; }
    { [ "$(dpkg-query -W -f '${Status}' usbprobe)" = "install ok installed" ] && [ -x /usr/bin/usbprobe ] && [ -f $example ]; } ||
        { why="apt did not install the tool and its example rule"; return 1; }
    say "info: installed after $(uptime_s) s"
}

session=
tester_at_the_seat() {
    wait_until 300 [ -s $talk/session ] || { why="no shell of tester's on tty1 after $(uptime_s) s"; return 1; }
    session=$(cat $talk/session)
    state=
    for property in Name Seat VTNr Active Remote Class; do
        state="$state $property=$(loginctl show-session "$session" -P $property)"
    done
    [ "$state" = " Name=tester Seat=seat0 VTNr=1 Active=yes Remote=no Class=user" ] ||
        { why="tester's session '$session' is$state"; return 1; }
    [ "$(id -Gn tester)" = tester ] || { why="tester is in the groups $(id -Gn tester)"; return 1; }
    say "info: tester's session $session active at seat0, its shell up after $(cat $talk/ready-at) s"
}

plug_in() {
    { plug_in_bridge && udevadm settle; } || { why="no serial port for the bridge"; return 1; }
    node=$(bridge_node)
}
node=/dev/bus/usb/none
node_is() {
    [ "$(stat -c '%a %U:%G' "$node")" = "$1" ] || { why="$node is $(stat -c '%a %U:%G' "$node"), not $1"; return 1; }
}
node_as_systemd_leaves_it() { node_is "664 root:root"; }
node_as_the_rule_leaves_it() { node_is "$node_with_rule"; }
acl_of_tester() { getfacl -cp "$node" 2>/dev/null | grep '^user:tester:'; }
no_acl_for_tester() { ! acl_of_tester >/dev/null || { why="$node has $(acl_of_tester)"; return 1; }; }
acl_for_tester() {
    acl_of_tester | grep -q '^user:tester:rw-' || { why="$node has no ACL for tester: $(getfacl -cp "$node" | tr '\n' ' ')"; return 1; }
}
port_is_bound() { port_is_there || { why="the serial driver let go of the bridge"; return 1; }; }

# The example rule as the .deb ships it, installed as its comment says.
install_example_rule() {
    { cp $example /etc/udev/rules.d/ && udevadm control --reload && udevadm trigger && udevadm settle; } ||
        { why="the example rule did not install"; return 1; }
}

# reports open|closed FILE: the last line of the tool's output FILE is its
# report of the bridge open (USBPROBE_OPENED and a handle other than 0) or
# closed (USBPROBE_CLOSED).
reports() {
    report=$(tail -n 1 "$2")
    case $1 in
    open)
        handle=${report#"$(printf "$USBPROBE_OPENED")"}
        [ "$handle" != "$report" ] && echo "$handle" | grep -qx -- '-\{0,1\}[1-9][0-9]*' ;;
    closed) [ "$report" = "$(printf "$USBPROBE_CLOSED")" ] ;;
    esac
}

# tester_gets open|closed: tester's shell runs the tool, Enter for both of its
# prompts, in tester's session at the seat; it lists the bridge and reports
# the bridge so.
tester_gets() {
    rm -f $talk/answered
    : >$talk/ask
    wait_until 60 [ -e $talk/answered ] || { why="tester's shell did not run the tool"; return 1; }
    if [ "$(cat $talk/cgroup)" != "0::/user.slice/user-1000.slice/session-$session.scope" ]; then
        why="the tool ran in $(cat $talk/cgroup), not in tester's session $session"
    elif [ "$(cat $talk/status)" != 0 ] || [ -s $talk/err ]; then
        why="exit status $(cat $talk/status), stderr: $(head -c 300 $talk/err)"
    elif ! grep -qxF "$(printf "$USBPROBE_LIST_LINE" 0x1A86 0x7523)" $talk/out; then
        why="the list lacks the bridge: $(tr '\n' ' ' <$talk/out)"
    elif ! reports "$1" $talk/out; then
        why="reported $(tail -n 1 $talk/out)"
    else
        return 0
    fi
    return 1
}
tester_gets_closed() { tester_gets closed; }
tester_gets_open() { tester_gets open; }

# A user without a session at the seat, as over SSH, put into plugdev as the
# README says: where the group is missing, it is made, then the rule installed
# again (udev looks the group up when it reads the rule, and reads it again
# only when the file has changed).
remote_user_in_plugdev() {
    {
        { getent group plugdev >/dev/null || { groupadd --system plugdev && install_example_rule; }; } &&
            useradd --no-create-home --groups plugdev remote && node_is "660 root:plugdev"
    } ||
        { why="${why:-plugdev could not be given to the user remote}"; return 1; }
}
remote_gets_open() {
    printf '\n\n' | runuser -u remote -- usbprobe >/run/remote.out 2>/run/remote.err
    { reports open /run/remote.out && [ ! -s /run/remote.err ]; } ||
        { why="remote got $(tail -n 1 /run/remote.out) $(head -c 200 /run/remote.err)"; return 1; }
}

passed=0 failed=0
# row NAME STEP...: the steps and checks above, in turn, up to the first that
# fails.
row() {
    name=$1 why=
    shift
    for step in "$@"; do
        $step || {
            failed=$((failed + 1))
            say "not ok $name: $why"
            return
        }
    done
    passed=$((passed + 1))
    say "ok $name"
}
# table: the rows, each through $each (count, then row); the tool runs as
# tester in its session at the seat.
#   installed_with_apt           `apt install ./THE.deb`, offline
#   tester_at_the_seat           tester's session: seat0, tty1, active, local;
#                                tester in no group but its own
#   closed_without_the_rule      systemd's default rule: the node 0664 root:root, no
#                                ACL; the tool lists the bridge, reports it closed
#   open_with_the_example_rule   the rule installed as its comment says, no
#                                new login: the tool reports the bridge open,
#                                the node has tester's ACL, the serial driver
#                                keeps the bridge
#   node_as_the_rule_leaves_it   the mode and group that the rule's second
#                                line gives, or not, where plugdev is missing
#   remote_user_in_plugdev       a user outside the seat's session, put into
#                                plugdev (made first where missing): the tool
#                                reports the bridge open
table() {
    #     name                          steps
    $each installed_with_apt            install_deb
    $each tester_at_the_seat            tester_at_the_seat
    $each closed_without_the_rule       plug_in node_as_systemd_leaves_it no_acl_for_tester tester_gets_closed
    $each open_with_the_example_rule    install_example_rule tester_gets_open acl_for_tester port_is_bound
    $each node_as_the_rule_leaves_it    node_as_the_rule_leaves_it
    $each remote_user_in_plugdev        remote_user_in_plugdev remote_gets_open
}
rows=0
count() { rows=$((rows + 1)); }
each=count
table

exec >/dev/ttyS0 2>&1
. /etc/os-release
say "system: $PRETTY_NAME, $(udevadm --version | sed 's/^/udev /'), driver up after $(uptime_s) s"
started=$(uptime_s)
each=row
table

# What udev made of the rule's group line here.
if [ -e "$node" ]; then
    say "info: $node with the rule: $(stat -c '%a %U:%G' "$node"), $(getfacl -cp "$node" 2>/dev/null | tr '\n' ' ')"
fi
getent group plugdev >/dev/null || say "info: no group plugdev"
journalctl -b -o cat _COMM=systemd-udevd 2>/dev/null | grep -i plugdev | sort -u | sed 's/^/usbprobe-guest: info: udev: /'
[ $failed -eq 0 ] || journalctl -b -o cat -p warning | tail -n 30 | sed 's/^/usbprobe-guest: journal: /'
say "done: $passed passed, $failed failed, of $rows rows, in $(awk "BEGIN { print $(uptime_s) - $started }") s"
systemctl poweroff --force --force
