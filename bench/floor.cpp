// The benchmark's floor: exactly the libusb calls usbprobe makes, in its order, with no console.
// Usage: usbprobe_floor   (usbprobe_bench runs it beside the tool, on the same simulated bus)
// It reads no input and writes no output.

#include <libusb.h>

int main()
{
    if (libusb_init(nullptr) != 0)
        return 0;
    libusb_device **device_list = nullptr;
    const ssize_t device_count = libusb_get_device_list(nullptr, &device_list);
    for (ssize_t i = 0; i < device_count; ++i) {
        libusb_device_descriptor descriptor{};
        libusb_get_device_descriptor(device_list[i], &descriptor);
    }
    libusb_device_handle *handle = libusb_open_device_with_vid_pid(nullptr, 0x1A86, 0x7523);
    if (device_count >= 0)
        libusb_free_device_list(device_list, 1);
    libusb_close(handle);
    libusb_exit(nullptr);
    return 0;
}
