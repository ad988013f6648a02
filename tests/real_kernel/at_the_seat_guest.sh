#!/bin/sh
# The guest of at_the_seat.sh: a whole Debian system, booted with systemd on
# Debian's kernel, where the bridge 1A86:7523 becomes a FunctionFS gadget on
# dummy_hcd. One script, three parts:
#   - the first process (rdinit=): the user tester, getty's autologin of tester
#     on tty1 and the driver's service; then systemd in its place
#   - "tester": tester's login shell on tty1, in logind's session at seat0,
#     runs it from ~/.profile; it runs the tool there whenever the driver asks
#   - "driver": a system service, as root: the table at the end, one row on
#     the serial console each ("ok NAME" or "not ok NAME: WHY"), then the
#     machine powers off
# Its settings file says whether the group plugdev stays (plugdev=kept or
# removed) and how the example rule leaves the bridge's node
# (node_with_rule="MODE OWNER:GROUP").
set -u
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
here=/usr/local/lib/at-the-seat
# Where the driver asks (ask) and tester's shell answers (answered, with the
# tool's out, err and status and the cgroup it ran in): tester's own folder.
talk=/var/lib/at-the-seat
. $here/settings
# The tool's words (printf formats): USBPROBE_LIST_LINE, USBPROBE_OPENED,
# USBPROBE_CLOSED.
. $here/words.sh
say() { echo "usbprobe-guest: $*"; }
uptime_s() { cut -d' ' -f1 /proc/uptime; }

# --- the first process --------------------------------------------------------

first_process() {
    mount -t proc proc /proc
    say "kernel $(uname -r) $(uname -m), up after $(uptime_s) s"
    # As on systems without the group: gone before udev reads any rule, and
    # not made again at boot by systemd-sysusers (whose basic.conf, as Debian
    # ships it, has it).
    if [ "$plugdev" = removed ]; then
        sed -i '/^plugdev:/d' /etc/group /etc/gshadow
        mkdir -p /etc/sysusers.d
        grep -v '^g plugdev ' /usr/lib/sysusers.d/basic.conf >/etc/sysusers.d/basic.conf
    fi
    useradd --create-home --shell /bin/sh tester
    mkdir -m 0755 $talk && chown tester:tester $talk
    echo "exec sh $here/guest.sh tester" >>/home/tester/.profile
    units=/etc/systemd/system
    mkdir -p $units/getty@tty1.service.d $units/multi-user.target.wants
    cat >$units/getty@tty1.service.d/autologin.conf <<EOF
[Service]
ExecStart=
ExecStart=-/sbin/agetty --autologin tester --noclear %I \$TERM
EOF
    # The driver starts with udev, the tool's installation in parallel to the
    # rest of the boot.
    cat >$units/at-the-seat.service <<EOF
[Unit]
Description=usbprobe at the seat
DefaultDependencies=no
After=systemd-udevd.service
[Service]
Type=exec
ExecStart=/bin/sh $here/guest.sh driver
EOF
    ln -s ../at-the-seat.service $units/multi-user.target.wants/
    # The serial console carries the rows, not a login prompt; and what has no
    # part in seats, logins, udev or apt does not start, for time under TCG.
    for unit in serial-getty@ttyS0.service tmp.mount dev-hugepages.mount dev-mqueue.mount sys-kernel-debug.mount \
        sys-kernel-tracing.mount sys-fs-fuse-connections.mount proc-sys-fs-binfmt_misc.automount \
        systemd-binfmt.service modprobe@drm.service modprobe@efi_pstore.service modprobe@fuse.service \
        systemd-pstore.service systemd-hwdb-update.service systemd-journal-catalog-update.service \
        systemd-update-done.service ldconfig.service systemd-random-seed.service timers.target; do
        ln -s /dev/null $units/$unit
    done
    umount /proc
    exec /lib/systemd/systemd
}

# --- tester's shell -----------------------------------------------------------

tester_shell() {
    uptime_s >$talk/ready-at
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
}

# --- the driver's steps and checks ----------------------------------------------

# wait_until SECONDS CONDITION...
wait_until() {
    tries=$(($1 * 10))
    shift
    until "$@"; do
        tries=$((tries - 1))
        [ $tries -gt 0 ] || return 1
        sleep 0.1
    done
}
example=/usr/share/doc/usbprobe/examples/60-usbprobe.rules

install_deb() {
    (cd $here && DEBIAN_FRONTEND=noninteractive apt install --yes ./usbprobe_*_amd64.deb) >/run/apt.log 2>&1 ||
        { why="apt install failed: $(grep -E '^(E|W):' /run/apt.log | tr '\n' ' ')"; return 1; }
    [ "$(dpkg-query -W -f '${Status}' usbprobe)" = "install ok installed" ] && [ -x /usr/bin/usbprobe ] && [ -f $example ] ||
        { why="apt did not install the tool and its example rule"; return 1; }
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

gadgets=/sys/kernel/config/usb_gadget
bridge_path() {
    for device in /sys/bus/usb/devices/*; do
        [ "$(cat "$device/idVendor" 2>/dev/null):$(cat "$device/idProduct" 2>/dev/null)" = 1a86:7523 ] &&
            echo "$device" && return
    done
}
port_is_there() { [ -c /dev/ttyUSB0 ] && [ -e "$(bridge_path):1.0/ttyUSB0" ]; }
plug_in() {
    modprobe dummy_hcd && modprobe libcomposite && modprobe usb_f_fs &&
        { mountpoint -q /sys/kernel/config || mount -t configfs configfs /sys/kernel/config; } &&
        mkdir $gadgets/bridge $gadgets/bridge/functions/ffs.bridge $gadgets/bridge/configs/c.1 &&
        echo 0x1a86 >$gadgets/bridge/idVendor && echo 0x7523 >$gadgets/bridge/idProduct &&
        echo 0x0264 >$gadgets/bridge/bcdDevice &&
        ln -s $gadgets/bridge/functions/ffs.bridge $gadgets/bridge/configs/c.1/ &&
        mkdir /run/ffs-bridge && mount -t functionfs bridge /run/ffs-bridge &&
        { $here/bridge_function /run/ffs-bridge & } && wait_until 30 [ -e /run/ffs-bridge/ep1 ] &&
        echo dummy_udc.0 >$gadgets/bridge/UDC && wait_until 30 port_is_there && udevadm settle ||
        { why="no serial port for the bridge"; return 1; }
    bridge=$(bridge_path)
    bridge_node=$(printf /dev/bus/usb/%03d/%03d "$(cat "$bridge/busnum")" "$(cat "$bridge/devnum")")
}
bridge_node=/dev/bus/usb/none
node_is() {
    [ "$(stat -c '%a %U:%G' "$bridge_node")" = "$1" ] || { why="$bridge_node is $(stat -c '%a %U:%G' "$bridge_node"), not $1"; return 1; }
}
node_as_systemd_leaves_it() { node_is "664 root:root"; }
node_as_the_rule_leaves_it() { node_is "$node_with_rule"; }
acl_of_tester() { getfacl -cp "$bridge_node" 2>/dev/null | grep '^user:tester:'; }
no_acl_for_tester() { ! acl_of_tester >/dev/null || { why="$bridge_node has $(acl_of_tester)"; return 1; }; }
acl_for_tester() {
    acl_of_tester | grep -q '^user:tester:rw-' || { why="$bridge_node has no ACL for tester: $(getfacl -cp "$bridge_node" | tr '\n' ' ')"; return 1; }
}
port_is_bound() { port_is_there || { why="the serial driver let go of the bridge"; return 1; }; }

# The example rule as the .deb ships it, installed as its comment says.
install_example_rule() {
    cp $example /etc/udev/rules.d/ && udevadm control --reload && udevadm trigger && udevadm settle ||
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
    { getent group plugdev >/dev/null || { groupadd --system plugdev && install_example_rule; }; } &&
        useradd --no-create-home --groups plugdev remote && node_is "660 root:plugdev" ||
        { why="${why:-plugdev could not be given to the user remote}"; return 1; }
}
remote_gets_open() {
    printf '\n\n' | runuser -u remote -- usbprobe >/run/remote.out 2>/run/remote.err
    reports open /run/remote.out && [ ! -s /run/remote.err ] ||
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

driver() {
    exec >/dev/ttyS0 2>&1
    . /etc/os-release
    say "system: $PRETTY_NAME, $(udevadm --version | sed 's/^/udev /'), driver up after $(uptime_s) s"
    started=$(uptime_s)
    # row NAME STEP...; the tool runs as tester in its session at the seat.
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
    #   name                          steps
    row installed_with_apt            install_deb
    say "info: first row done after $(uptime_s) s"
    row tester_at_the_seat            tester_at_the_seat
    row closed_without_the_rule       plug_in node_as_systemd_leaves_it no_acl_for_tester tester_gets_closed
    row open_with_the_example_rule    install_example_rule tester_gets_open acl_for_tester port_is_bound
    row node_as_the_rule_leaves_it    node_as_the_rule_leaves_it
    row remote_user_in_plugdev        remote_user_in_plugdev remote_gets_open

    # What udev made of the rule's group line here.
    if [ -e "$bridge_node" ]; then
        say "info: $bridge_node with the rule: $(stat -c '%a %U:%G' "$bridge_node"), $(getfacl -cp "$bridge_node" 2>/dev/null | tr '\n' ' ')"
    fi
    getent group plugdev >/dev/null || say "info: no group plugdev"
    journalctl -b -o cat _COMM=systemd-udevd 2>/dev/null | grep -i plugdev | sort -u | sed 's/^/usbprobe-guest: info: udev: /'
    [ $failed -eq 0 ] || journalctl -b -o cat -p warning | tail -n 30 | sed 's/^/usbprobe-guest: journal: /'
    say "done: $passed passed, $failed failed, in $(awk "BEGIN { print $(uptime_s) - $started }") s"
    systemctl poweroff --force --force
}

if [ $$ -eq 1 ]; then
    first_process
fi
case $1 in
tester) tester_shell ;;
driver) driver ;;
esac
