# shellcheck shell=sh
# The guests' USB devices: gadgets on dummy_hcd, the bridge 1A86:7523 a FunctionFS function.
# Usage: . gadget.sh   (in a guest, as root, with bridge_function on PATH)
#   defines wait_until, gadget, bridge_path, bridge_node, bridge_is_gone, port_is_there,
#   plug_in_bridge and pull_cable
gadgets=/sys/kernel/config/usb_gadget

# wait_until SECONDS CONDITION...: until CONDITION holds, for SECONDS at most.
wait_until() {
    tries=$(($1 * 10))
    shift
    until "$@"; do
        tries=$((tries - 1))
        [ $tries -gt 0 ] || return 1
        sleep 0.1
    done
}
# gadget NAME VENDOR PRODUCT FUNCTION: a gadget with one configuration.
gadget() {
    mkdir $gadgets/"$1" $gadgets/"$1"/functions/"$4" $gadgets/"$1"/configs/c.1 &&
        echo "$2" >$gadgets/"$1"/idVendor && echo "$3" >$gadgets/"$1"/idProduct &&
        ln -s $gadgets/"$1"/functions/"$4" $gadgets/"$1"/configs/c.1/
}
bridge_path() {
    for device in /sys/bus/usb/devices/*; do
        [ "$(cat "$device/idVendor" 2>/dev/null):$(cat "$device/idProduct" 2>/dev/null)" = 1a86:7523 ] &&
            echo "$device" && return
    done
}
bridge_node() { printf /dev/bus/usb/%03d/%03d "$(cat "$(bridge_path)/busnum")" "$(cat "$(bridge_path)/devnum")"; }
bridge_is_gone() { [ -z "$(bridge_path)" ]; }
port_is_there() { [ -c /dev/ttyUSB0 ] && [ -e "$(bridge_path):1.0/ttyUSB0" ]; }
# plug_in_bridge: the bridge on dummy_hcd's first bus, bound by the serial driver.
plug_in_bridge() {
    modprobe dummy_hcd && modprobe libcomposite && modprobe usb_f_fs &&
        { [ -d $gadgets ] || mount -t configfs configfs /sys/kernel/config; } &&
        gadget bridge 0x1a86 0x7523 ffs.bridge && echo 0x0264 >$gadgets/bridge/bcdDevice &&
        mkdir /run/ffs-bridge && mount -t functionfs bridge /run/ffs-bridge &&
        { bridge_function /run/ffs-bridge & } && wait_until 30 [ -e /run/ffs-bridge/ep1 ] &&
        echo dummy_udc.0 >$gadgets/bridge/UDC && wait_until 30 port_is_there
}
# pull_cable: as a cable pulled out, the gadget drops its pull-up and the host
# sees the bridge leave, while the gadget and its function stay (unbinding the
# gadget from its controller instead hangs Debian 12's 6.1.176 kernels while
# the tool holds the device).
pull_cable() { echo disconnect >/sys/class/udc/dummy_udc.0/soft_connect && wait_until 30 bridge_is_gone; }
