// Plays the USB-to-serial bridge 1A86:7523 as a USB function of a Linux gadget, through FunctionFS.
// Usage: bridge_function FUNCTIONFS_MOUNT (mounted with the function's name;
// the gadget's configfs entry gives the device its IDs; gadget.sh starts it in the guests)
// One vendor-specific interface with a bulk pair and an interrupt endpoint, and answers to the
// vendor requests that the kernel's USB serial driver sends when it binds and when the port is
// opened or set up.

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include <endian.h>
#include <fcntl.h>
#include <linux/usb/ch9.h>
#include <linux/usb/functionfs.h>
#include <unistd.h>

namespace {

struct __attribute__((packed)) SpeedDescriptors {
    usb_interface_descriptor interface;
    usb_endpoint_descriptor_no_audio bulk_in, bulk_out, interrupt_in;
};

SpeedDescriptors descriptors_for(std::uint16_t bulk_packet_size)
{
    const auto endpoint = [](std::uint8_t address, std::uint8_t type, std::uint16_t packet_size,
                             std::uint8_t interval) {
        return usb_endpoint_descriptor_no_audio{USB_DT_ENDPOINT_SIZE, USB_DT_ENDPOINT, address, type,
                                                htole16(packet_size), interval};
    };
    return {{USB_DT_INTERFACE_SIZE, USB_DT_INTERFACE, 0, 0, 3, USB_CLASS_VENDOR_SPEC, 1, 2, 0},
            endpoint(USB_DIR_IN | 2, USB_ENDPOINT_XFER_BULK, bulk_packet_size, 0),
            endpoint(USB_DIR_OUT | 2, USB_ENDPOINT_XFER_BULK, bulk_packet_size, 0),
            endpoint(USB_DIR_IN | 1, USB_ENDPOINT_XFER_INT, 8, 1)};
}

struct __attribute__((packed)) AllDescriptors {
    usb_functionfs_descs_head_v2 head;
    std::uint32_t full_speed_count, high_speed_count;
    SpeedDescriptors full_speed, high_speed;
};

// What the bridge answers to a vendor IN request: its version to 0x5F, zeros
// (all modem lines idle, every register clear) to anything else.
void answer_in(const usb_ctrlrequest &request, unsigned char *answer, std::size_t length)
{
    std::memset(answer, 0, length);
    if (request.bRequest == 0x5F && length > 0)
        answer[0] = 0x31;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FUNCTIONFS_MOUNT\n", argv[0]);
        return 2;
    }
    const std::string ep0_path = std::string(argv[1]) + "/ep0";
    const int ep0 = open(ep0_path.c_str(), O_RDWR);
    if (ep0 < 0) {
        std::perror(ep0_path.c_str());
        return 1;
    }

    AllDescriptors all{};
    all.head.magic = htole32(FUNCTIONFS_DESCRIPTORS_MAGIC_V2);
    all.head.length = htole32(sizeof all);
    // Requests to the device itself, as the driver sends them, come to us too.
    all.head.flags = htole32(FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC | FUNCTIONFS_ALL_CTRL_RECIP);
    all.full_speed_count = htole32(4);
    all.high_speed_count = htole32(4);
    all.full_speed = descriptors_for(64);
    all.high_speed = descriptors_for(512);
    const usb_functionfs_strings_head strings{htole32(FUNCTIONFS_STRINGS_MAGIC), htole32(sizeof strings), 0, 0};
    if (write(ep0, &all, sizeof all) != static_cast<ssize_t>(sizeof all) ||
        write(ep0, &strings, sizeof strings) != static_cast<ssize_t>(sizeof strings)) {
        std::perror("writing the descriptors");
        return 1;
    }

    unsigned char data[4096];
    for (;;) {
        usb_functionfs_event events[4];
        const ssize_t got = read(ep0, events, sizeof events);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            std::perror("reading ep0");
            return 1;
        }
        for (std::size_t i = 0; i < static_cast<std::size_t>(got) / sizeof events[0]; ++i) {
            if (events[i].type != FUNCTIONFS_SETUP)
                continue;
            const usb_ctrlrequest &request = events[i].u.setup;
            std::size_t length = le16toh(request.wLength);
            if (length > sizeof data)
                length = sizeof data;
            // A host that gave up on a request makes the answer fail: the
            // next request comes as a new event all the same.
            if (request.bRequestType & USB_DIR_IN) {
                answer_in(request, data, length);
                if (write(ep0, data, length) < 0)
                    std::perror("answering an IN request");
            } else if (read(ep0, data, length) < 0) {
                std::perror("taking an OUT request");
            }
        }
    }
}
