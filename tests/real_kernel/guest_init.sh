#!/bin/busybox sh
# shellcheck shell=dash source-path=SCRIPTDIR
# The first process of on_debian_kernel.sh's guest: runs its table of rows, then powers off.
# Usage: /init of the guest's initramfs, with /words.sh, /gadget.sh, bridge_function and take_bridge
# Each row runs the tool against gadgets on dummy_hcd and prints one line. The .deb's guest has
# Debian's udev; the static file's has no C library and so no udev (see settle below).
/bin/busybox mkdir -p /proc /sys /dev /run /tmp /etc /sbin /usr/sbin /usr/bin
/bin/busybox --install -s
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /run
say() { echo "usbprobe-guest: $*"; }
# The tool's words (printf formats): USBPROBE_LIST_LINE, USBPROBE_PROMPT,
# USBPROBE_OPENED and USBPROBE_CLOSED.
# shellcheck source=../support/words.sh
. /words.sh
# The devices' helpers: gadget, plug_in_bridge, pull_cable, wait_until...
# shellcheck source=gadget.sh
. /gadget.sh
say "kernel $(uname -r) $(uname -m), up after $(cut -d' ' -f1 /proc/uptime) s"

# Debian's users and groups, and one ordinary user, before udev reads its rules.
cp /usr/share/base-passwd/passwd.master /etc/passwd
cp /usr/share/base-passwd/group.master /etc/group
echo "tester:x:1000:1000::/tmp:/bin/sh" >>/etc/passwd
echo "tester:x:1000:" >>/etc/group
# No coldplug: every USB device arrives after udev has started.
if [ -x /lib/systemd/systemd-udevd ]; then
    /lib/systemd/systemd-udevd --daemon 2>/dev/null
    settle() { udevadm settle; }
    # The example rule as the .deb ships it, installed as its comment says.
    install_rule() {
        mkdir -p /etc/udev/rules.d && cp /usr/share/doc/usbprobe/examples/60-usbprobe.rules /etc/udev/rules.d/ &&
            udevadm control --reload && udevadm trigger && udevadm settle
    }
else
    # No udev: it needs a C library, which this guest lacks. What the tests
    # need of it is done here. Drivers: busybox's uevent loads the module of
    # each device that arrives, by its modalias, as udev does. Nodes: devtmpfs
    # makes every node 0600 root:root; settle gives them what Debian's udev
    # rules would have given them by then: USB nodes 0664 root:root, serial
    # ports 0660 root:dialout, and once the example rule is installed, the
    # bridge's node group plugdev, mode 0660.
    cat >/run/load-driver <<'LOAD'
#!/bin/busybox sh
[ "$ACTION" != add ] || [ -z "$MODALIAS" ] || exec modprobe -q "$MODALIAS"
LOAD
    chmod 0755 /run/load-driver
    uevent /run/load-driver &
    settle() {
        chmod 0664 /dev/bus/usb/*/* && chgrp dialout /dev/ttyUSB* && chmod 0660 /dev/ttyUSB* || return
        [ -f /run/example-rule ] || return 0
        node=$(bridge_node)
        chgrp plugdev "$node" && chmod 0660 "$node"
    }
    install_rule() { touch /run/example-rule && settle; }
    # The static file's libusb, built without udev, finds the buses through
    # /dev/bus/usb alone: where that is missing or empty, libusb cannot start
    # and the tool lists nothing, as on a machine without USB.
    lists_only_with_usb_nodes=yes
fi

# --- the devices -------------------------------------------------------------

# The bridge on the first bus, a loopback function with another identity on the second.
other_is_there() { cat /sys/bus/usb/devices/*/idProduct 2>/dev/null | grep -qx 0104; }
plug_in() {
    {
        modprobe dummy_hcd num=2 && modprobe usb_f_ss_lb && plug_in_bridge &&
            gadget other 0x1d6b 0x0104 Loopback.1 && echo dummy_udc.1 >$gadgets/other/UDC &&
            wait_until 30 other_is_there && settle
    } ||
        { why="no serial port for the bridge"; return 1; }
}
unplug() { pull_cable || { why="the bridge stayed"; return 1; }; }

# --- the users ---------------------------------------------------------------

join() { sed -i "/^$1:/s/\$/,tester/; /^$1:/s/:,/:/" /etc/group; }
join_dialout() { join dialout; }
join_plugdev() { join plugdev; }
# The example rule (install_rule, above). There is no logind here, so its
# uaccess tag gives no one access: tester is a user without a local session,
# as over SSH.
install_example_rule() { install_rule || { why="the example rule did not install"; return 1; }; }

# Another program takes the bridge from the serial driver, as a braille
# display daemon does, and gives it back at the end of the row.
port_is_gone() { ! port_is_there; }
take_the_port_away() {
    take_bridge >/tmp/taker &
    { wait_until 30 grep -q taken /tmp/taker && wait_until 30 port_is_gone; } ||
        { why="take_bridge did not take the bridge from the serial driver"; return 1; }
}
port_gone_then_back() {
    port_is_there && { why="the serial port stayed while another program held the bridge"; return 1; }
    { kill -TERM "$(pidof take_bridge)" && wait_until 30 port_is_there; } ||
        { why="the serial driver did not get the bridge back"; return 1; }
}

# --- the checks --------------------------------------------------------------

port_is_bound() { port_is_there || { why="the serial driver let go of the bridge"; return 1; }; }
port_works() {
    { port_is_bound && stty -F /dev/ttyUSB0 115200 && stty -F /dev/ttyUSB0 | grep -q 'speed 115200 baud'; } ||
        { why="the serial port cannot be set up"; return 1; }
}
# systemd's default rule leaves the node 0664 root:root, and libusb's debug
# output says why the open failed.
node_is_default_and_libusb_says_why() {
    node=$(bridge_node)
    [ "$(stat -c '%a %U:%G' "$node")" = "664 root:root" ] || { why="$node is $(stat -c '%a %U:%G' "$node")"; return 1; }
    su -s /bin/sh tester -c 'LIBUSB_DEBUG=1 usbprobe </dev/null 2>&1 >/dev/null' |
        grep -q "libusb couldn't open USB device $node, errno=13" || { why="libusb did not say why"; return 1; }
}
tester_opens_port() {
    su -s /bin/sh tester -c 'stty -F /dev/ttyUSB0 9600' || { why="tester cannot open the serial port: $(ls -l /dev/ttyUSB0)"; return 1; }
}
listed_in_sysfs() {
    for device in /sys/bus/usb/devices/*; do
        [ -f "$device/idVendor" ] || continue
        printf "$USBPROBE_LIST_LINE" "0x$(cat "$device/idVendor")" "0x$(cat "$device/idProduct")"
    done | sort
}
# The prompt's line of text, and the report's words without the handle.
prompt_line=$(printf "$USBPROBE_PROMPT" | grep -m 1 .)
opened=$(printf "$USBPROBE_OPENED")
closed=$(printf "$USBPROBE_CLOSED")
# printed_as_expected REPORT: the list is what sysfs listed before the run, in
# any order, and then come the prompt and the report, byte for byte.
printed_as_expected() {
    lines=$(wc -l </tmp/listed-before)
    head -n "$lines" /tmp/out | sort >/tmp/listed
    cmp -s /tmp/listed /tmp/listed-before ||
        { why="listed $(tr '\n' ' ' </tmp/listed)instead of $(tr '\n' ' ' </tmp/listed-before)"; return 1; }
    tail -n +$((lines + 1)) /tmp/out >/tmp/rest
    # The handle: signed decimal, never 0.
    handle=$(tail -n 1 /tmp/rest)
    handle=${handle#"$opened"}
    echo "$handle" | grep -qx -- '-\{0,1\}[1-9][0-9]*' || handle=
    case $1 in
    open) printf "$USBPROBE_PROMPT$USBPROBE_OPENED%s" "$handle" ;;
    closed) printf "$USBPROBE_PROMPT$USBPROBE_CLOSED" ;;
    none) printf "$USBPROBE_PROMPT" ;;
    esac >/tmp/expected
    cmp -s /tmp/rest /tmp/expected || { why="printed $(od -An -c /tmp/rest | tr -s '\n' ' ')"; return 1; }
}

# While the tool runs in the foreground, this answers its prompt (or
# interrupts it) after the check of the row; it ends with the check's verdict.
drive() {
    exec 3>/tmp/in
    wait_until 30 grep -qxF "$prompt_line" /tmp/out || { echo "no prompt" >/tmp/why; exit 1; }
    why=
    [ "$1" = - ] || $1 || { echo "$why" >/tmp/why; kill -INT "$(pidof usbprobe)"; exit 1; }
    case $2 in
    keys)
        # After the report, the tool waits once more, the device released.
        echo >&3
        wait_until 30 grep -qF -e "$opened" -e "$closed" /tmp/out || { echo "no report after the first key" >/tmp/why; exit 1; }
        pid=$(pidof usbprobe) || { echo "ended before the second key" >/tmp/why; exit 1; }
        for fd in "/proc/$pid/fd/"*; do
            case $(readlink "$fd") in
            /dev/bus/usb/*) echo "holds the USB node at its last wait" >/tmp/why; echo >&3; exit 1 ;;
            esac
        done
        echo >&3 ;;
    interrupt) kill -INT "$(pidof usbprobe)" ;;
    esac
}

passed=0 failed=0
# scenario NAME AS BEFORE WHILE_WAITING ENDING REPORT AFTER
#   AS       root; tester (uid 1000, in the groups /etc/group gives it); or
#            container: root in a mount namespace without /dev/bus/usb
#   BEFORE, WHILE_WAITING, AFTER: a step or check of those above, or -
#   ENDING   keys (Enter, then after the report, once the device is released,
#            Enter again) or interrupt (SIGINT at the prompt)
#   REPORT   open (USBPROBE_OPENED and the handle), closed (USBPROBE_CLOSED)
#            or none (the tool ends at the prompt)
scenario() {
    name=$1 why=
    if [ "$3" = - ] || $3; then
        if [ "$2" = container ] && [ -n "${lists_only_with_usb_nodes:-}" ]; then
            : >/tmp/listed-before
        else
            listed_in_sysfs >/tmp/listed-before
        fi
        rm -f /tmp/in /tmp/out /tmp/err /tmp/why
        mkfifo /tmp/in
        drive "$4" "$5" &
        case $2 in
        root) usbprobe ;;
        tester) su -s /bin/sh tester -c 'exec usbprobe' ;;
        container) unshare -m sh -c 'mount -t tmpfs none /dev/bus/usb && exec usbprobe' ;;
        esac </tmp/in >/tmp/out 2>/tmp/err
        status=$?
        wait $!
        expected_status=0
        [ "$5" = interrupt ] && expected_status=130
        if [ -s /tmp/why ]; then
            why="while it waited: $(cat /tmp/why)"
        elif [ $status -ne $expected_status ]; then
            why="exit status $status"
        elif [ -s /tmp/err ]; then
            why="wrote to stderr: $(head -c 300 /tmp/err)"
        elif printed_as_expected "$6" && { [ "$7" = - ] || $7; }; then
            passed=$((passed + 1))
            say "ok $name"
            return
        fi
    fi
    failed=$((failed + 1))
    say "not ok $name: $why"
}

# table: the rows, each through $each (count, then scenario).
table() {
    #     name                       as         before                while waiting  ending     report  after
    $each no_usb_controller          root       -                     -              keys       closed  -
    $each root_opens_port_stays      root       plug_in               port_is_bound  keys       open    port_works
    $each tester_default_rules       tester     -                     -              keys       closed  node_is_default_and_libusb_says_why
    $each tester_in_dialout          tester     join_dialout          -              keys       closed  tester_opens_port
    $each tester_rule_not_in_plugdev tester     install_example_rule  -              keys       closed  -
    $each tester_rule_in_plugdev     tester     join_plugdev          -              keys       open    port_works
    $each port_taken_by_another      root       take_the_port_away    -              keys       open    port_gone_then_back
    $each interrupted_at_prompt      root       -                     -              interrupt  none    port_works
    $each no_usb_node                container  -                     -              keys       closed  port_works
    $each unplugged_during_wait      root       -                     unplug         keys       open    -
    $each bridge_not_on_the_bus      root       -                     -              keys       closed  -
}
rows=0
count() { rows=$((rows + 1)); }
each=count
table
started=$(cut -d' ' -f1 /proc/uptime)
each=scenario
table

[ $failed -eq 0 ] || dmesg | tail -n 40 | sed 's/^/usbprobe-guest: dmesg: /'
say "done: $passed passed, $failed failed, of $rows rows, in $(awk "BEGIN { print $(cut -d' ' -f1 /proc/uptime) - $started }") s"
poweroff -f
