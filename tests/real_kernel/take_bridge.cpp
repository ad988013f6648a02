// Takes the USB-to-serial bridge 1A86:7523 from the kernel's USB serial driver, and gives it back.
// Usage: take_bridge   (in a guest, as root: guest_init.sh's row port_taken_by_another)
// Does as a program that drives the device itself through libusb does (a braille display
// daemon, say): detaches the driver from interface 0 and claims it. Prints "taken" once it
// holds the interface, holds it until SIGTERM or SIGINT, then gives it back to the driver and
// exits 0.

#include <csignal>
#include <cstdio>

#include <libusb.h>

int main()
{
    sigset_t ending;
    sigemptyset(&ending);
    sigaddset(&ending, SIGTERM);
    sigaddset(&ending, SIGINT);
    sigprocmask(SIG_BLOCK, &ending, nullptr);

    libusb_context* context = nullptr;
    if (libusb_init(&context) != 0) {
        std::fputs("take_bridge: libusb_init failed\n", stderr);
        return 1;
    }
    libusb_device_handle* bridge = libusb_open_device_with_vid_pid(context, 0x1a86, 0x7523);
    if (bridge == nullptr) {
        std::fputs("take_bridge: cannot open 1A86:7523\n", stderr);
        return 1;
    }
    int status = libusb_detach_kernel_driver(bridge, 0);
    if (status == 0) {
        status = libusb_claim_interface(bridge, 0);
    }
    if (status != 0) {
        std::fprintf(stderr, "take_bridge: cannot take interface 0: %s\n", libusb_error_name(status));
        return 1;
    }
    std::puts("taken");
    std::fflush(stdout);

    int signal = 0;
    sigwait(&ending, &signal);
    libusb_release_interface(bridge, 0);
    status = libusb_attach_kernel_driver(bridge, 0);
    libusb_close(bridge);
    libusb_exit(context);
    if (status != 0) {
        std::fprintf(stderr, "take_bridge: cannot give interface 0 back: %s\n", libusb_error_name(status));
        return 1;
    }
    return 0;
}
