// usbprobe: lists the attached USB devices and checks whether the
// USB-to-serial bridge 1A86:7523 can be opened through libusb.

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <libusb.h>

#ifndef _WIN32
#include <csignal>

#include <fcntl.h>
#include <unistd.h>
#endif

int main()
{
#ifndef _WIN32
    // Started with a standard stream closed, the next descriptor libusb opens
    // would become our input or output: hold 0, 1 and 2 on /dev/null instead.
    int spare_descriptor = open("/dev/null", O_RDWR);
    while (spare_descriptor >= 0 && spare_descriptor <= STDERR_FILENO)
        spare_descriptor = open("/dev/null", O_RDWR);
    if (spare_descriptor >= 0)
        close(spare_descriptor);
    // Output nobody reads any more is no reason to die before releasing the device.
    std::signal(SIGPIPE, SIG_IGN);
#endif

    const bool library_ready = libusb_init(nullptr) == 0;

    libusb_device **device_list = nullptr;
    ssize_t device_count = -1;
    libusb_device_handle *handle = nullptr;

    if (library_ready) {
        device_count = libusb_get_device_list(nullptr, &device_list);
        for (ssize_t i = 0; i < device_count; ++i) {
            libusb_device_descriptor descriptor;
            std::memset(&descriptor, 0, sizeof descriptor);
            libusb_get_device_descriptor(device_list[i], &descriptor);
            std::printf("Vendor:Device = %04X:%04X\n",
                        static_cast<std::uint32_t>(descriptor.idVendor),
                        static_cast<std::uint32_t>(descriptor.idProduct));
        }
        handle = libusb_open_device_with_vid_pid(nullptr, 0x1A86, 0x7523);
    }
    const bool list_stored = device_count >= 0;

    std::puts("\nTaste druecken fuer Pruefung ob 1A86:7523 offen ist.\n");
    std::fflush(stdout);
    std::getchar();

    if (handle != nullptr) {
        const std::intptr_t handle_value = reinterpret_cast<std::intptr_t>(handle);
        std::printf("Offen ...");
        if (list_stored)
            libusb_free_device_list(device_list, 1);
        libusb_close(handle);
        std::printf(" HANDLE_WERT: %" PRIdPTR, handle_value);
    } else {
        std::printf("HANDLE_WERT: %d ", 0);
        if (list_stored)
            libusb_free_device_list(device_list, 1);
        if (library_ready)
            libusb_close(nullptr);
        std::printf("... geschlossen");
    }

    if (library_ready)
        libusb_exit(nullptr);

    std::fflush(stdout);
    std::getchar();
    return 0;
}
