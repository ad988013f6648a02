// A stand-in for the seven libusb calls that usbprobe makes, linked in place of the real library.
// Usage: linked with src/usbprobe.cpp into usbprobe_on_fake_libusb (tests/CMakeLists.txt), which
// LibraryFailure and UnwritableOutput run with these set:
//   FAKE_LIBUSB_LOG      the file every call it receives is written to, in order
//   FAKE_LIBUSB_INIT     result of libusb_init (default 0)
//   FAKE_LIBUSB_DEVICES  the devices, e.g. "1A86:7523 0403:6001 fail";
//                        "fail" is a device whose descriptor cannot be read
//   FAKE_LIBUSB_COUNT    a negative result for libusb_get_device_list
//   FAKE_LIBUSB_HANDLE   the handle the open returns, as a number; unset: null
// It plays the failures a simulated bus cannot produce.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include <libusb.h>

struct libusb_device {
    bool readable;
    std::uint16_t vendor, product;
};

namespace {

std::vector<libusb_device> &devices()
{
    static std::vector<libusb_device> all = [] {
        std::vector<libusb_device> parsed;
        std::istringstream words(std::getenv("FAKE_LIBUSB_DEVICES") ? std::getenv("FAKE_LIBUSB_DEVICES") : "");
        for (std::string word; words >> word;) {
            if (word == "fail")
                parsed.push_back({false, 0, 0});
            else
                parsed.push_back({true, static_cast<std::uint16_t>(std::stoul(word.substr(0, 4), nullptr, 16)),
                                  static_cast<std::uint16_t>(std::stoul(word.substr(5, 4), nullptr, 16))});
        }
        return parsed;
    }();
    return all;
}

long long setting(const char *name, long long otherwise)
{
    const char *text = std::getenv(name);
    return text ? std::stoll(text, nullptr, 0) : otherwise;
}

void log(const std::string &line)
{
    static std::FILE *file = std::fopen(std::getenv("FAKE_LIBUSB_LOG"), "wb");
    std::fprintf(file, "%s\n", line.c_str());
    std::fflush(file);
}

std::string context_name(libusb_context *context)
{
    return context ? "ctx=object" : "ctx=null";
}

libusb_device **stored_list = nullptr;
libusb_device_handle *const opened_handle =
    reinterpret_cast<libusb_device_handle *>(static_cast<std::intptr_t>(setting("FAKE_LIBUSB_HANDLE", 0)));

} // namespace

extern "C" {

int libusb_init(libusb_context **context)
{
    const int result = static_cast<int>(setting("FAKE_LIBUSB_INIT", 0));
    log("init " + std::string(context ? "ctx=object" : "ctx=null") + " -> " + std::to_string(result));
    return result;
}

ssize_t libusb_get_device_list(libusb_context *context, libusb_device ***list)
{
    const ssize_t count = static_cast<ssize_t>(setting("FAKE_LIBUSB_COUNT", static_cast<long long>(devices().size())));
    log("get_device_list " + context_name(context) + " -> " + std::to_string(count));
    if (count < 0)
        return count;
    stored_list = static_cast<libusb_device **>(std::calloc(devices().size() + 1, sizeof *stored_list));
    for (size_t i = 0; i < devices().size(); ++i)
        stored_list[i] = &devices()[i];
    *list = stored_list;
    return count;
}

int libusb_get_device_descriptor(libusb_device *device, libusb_device_descriptor *descriptor)
{
    const auto index = device - devices().data();
    log("get_device_descriptor device=" + std::to_string(index));
    if (!device->readable)
        return LIBUSB_ERROR_IO;
    descriptor->idVendor = device->vendor;
    descriptor->idProduct = device->product;
    return 0;
}

libusb_device_handle *libusb_open_device_with_vid_pid(libusb_context *context, std::uint16_t vendor,
                                                      std::uint16_t product)
{
    log("open_device_with_vid_pid " + context_name(context) + " vendor=" + std::to_string(vendor) +
        " product=" + std::to_string(product) + " -> " + (opened_handle ? "handle" : "null"));
    return opened_handle;
}

void libusb_free_device_list(libusb_device **list, int unref_devices)
{
    log(std::string("free_device_list list=") + (list && list == stored_list ? "stored" : "other") +
        " unref=" + std::to_string(unref_devices));
    if (list == stored_list) {
        std::free(stored_list);
        stored_list = nullptr;
    }
}

void libusb_close(libusb_device_handle *handle)
{
    log(std::string("close handle=") + (!handle ? "null" : handle == opened_handle ? "opened" : "other"));
}

void libusb_exit(libusb_context *context)
{
    log("exit " + context_name(context));
}

} // extern "C"
