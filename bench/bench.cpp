// Times usbprobe against its floor and against lsusb, on one simulated bus of many devices.
// Usage: scripts/bench [DEVICES [ROUNDS]], or inside umockdev-wrapper: usbprobe_bench [DEVICES [ROUNDS]]
//   (defaults: 1000 devices, 7 rounds)
// The floor makes the same libusb calls as the tool, with no console.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <umockdev.h>

#include "words.h"

namespace {

struct Sample {
    double seconds;
    long peak_kib;
};

std::string padded(unsigned value, int digits, bool in_hex)
{
    char text[16];
    std::snprintf(text, sizeof text, in_hex ? "%0*x" : "%0*u", digits, value);
    return text;
}

std::string hex(unsigned value, int digits) { return padded(value, digits, true); }
std::string decimal(unsigned value, int digits) { return padded(value, digits, false); }

// Device i sits on bus 1 + i / 100; each has its own vendor:product pair, and
// the one in the middle is the serial bridge the tool looks for.
std::string simulated_bus(int devices)
{
    std::string bus;
    for (int i = 0; i < devices; ++i) {
        const int busnum = 1 + i / 100, devnum = 2 + i % 100;
        const bool target = i == devices / 2;
        const unsigned vendor = target ? 0x1A86 : 0x1000 + i, product = target ? 0x7523 : 0x2000 + i;
        const std::string node = decimal(busnum, 3) + "/" + decimal(devnum, 3);
        bus += "P: /devices/pci0000:00/0000:00:14.0/usb" + std::to_string(busnum) + "/" +
               std::to_string(busnum) + "-" + std::to_string(devnum - 1) + "\n" +
               "N: bus/usb/" + node + "\n" +
               "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DEVNAME=/dev/bus/usb/" + node + "\n" +
               "E: BUSNUM=" + decimal(busnum, 3) + "\nE: DEVNUM=" + decimal(devnum, 3) + "\n" +
               "A: busnum=" + std::to_string(busnum) + "\\n\nA: devnum=" + std::to_string(devnum) + "\\n\n" +
               "A: idVendor=" + hex(vendor, 4) + "\\n\nA: idProduct=" + hex(product, 4) + "\\n\n" +
               "A: speed=12\\n\n" +
               "H: descriptors=12010002ff000040" + hex(vendor & 0xFF, 2) + hex(vendor >> 8, 2) +
               hex(product & 0xFF, 2) + hex(product >> 8, 2) +
               "0001000000010902190001010080320904000001ff00000007058102400000\n\n";
    }
    return bus;
}

Sample run(const char *program)
{
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, STDIN_FILENO);
        dup2(null, STDOUT_FILENO);
        execlp(program, program, static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s did not exit with 0\n", program);
        std::exit(1);
    }
    return {took.count(), usage.ru_maxrss};
}

// A warm-up run that also proves the bus is what we think: every device
// listed, the bridge opened.
// A device's line up to its IDs.
const std::string device_line_start = list_line(0, 0).substr(0, list_line(0, 0).find("0000:0000"));

bool usbprobe_sees_whole_bus(int devices)
{
    std::FILE *output = popen(USBPROBE " </dev/null", "r");
    int listed = 0;
    bool opened = false;
    char line[256];
    while (std::fgets(line, sizeof line, output)) {
        listed += std::string(line).rfind(device_line_start, 0) == 0;
        opened = opened || std::string(line).rfind(USBPROBE_OPENED, 0) == 0;
    }
    return pclose(output) == 0 && listed == devices && opened;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

} // namespace

int main(int argc, char **argv)
{
    const int devices = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 7;
    if (!std::getenv("UMOCKDEV_DIR") && !std::getenv("LD_PRELOAD")) {
        std::fprintf(stderr, "run me inside umockdev-wrapper\n");
        return 2;
    }

    UMockdevTestbed *testbed = umockdev_testbed_new();
    GError *error = nullptr;
    if (!umockdev_testbed_add_from_string(testbed, simulated_bus(devices).c_str(), &error)) {
        std::fprintf(stderr, "cannot build the bus: %s\n", error->message);
        return 1;
    }

    if (!usbprobe_sees_whole_bus(devices)) {
        std::fprintf(stderr, "usbprobe does not list %d devices and open the bridge\n", devices);
        return 1;
    }

    const char *programs[] = {USBPROBE, FLOOR, "lsusb"};
    const char *names[] = {"usbprobe", "floor", "lsusb"};
    std::vector<Sample> samples[3];
    for (int round = 0; round < rounds; ++round)
        for (int p = 0; p < 3; ++p)
            samples[p].push_back(run(programs[p]));

    std::printf("%d devices on %d buses, %d rounds, programs run alternately\n\n", devices,
                (devices + 99) / 100, rounds);
    std::printf("%-10s %16s %18s\n", "program", "median wall ms", "median peak KiB");
    std::vector<double> seconds[3], peaks[3];
    for (int p = 0; p < 3; ++p) {
        for (const Sample &s : samples[p]) {
            seconds[p].push_back(s.seconds);
            peaks[p].push_back(static_cast<double>(s.peak_kib));
        }
        std::printf("%-10s %16.1f %18.0f\n", names[p], median(seconds[p]) * 1000, median(peaks[p]));
    }

    std::vector<double> to_floor, to_lsusb, memory_to_floor;
    for (int round = 0; round < rounds; ++round) {
        to_floor.push_back(seconds[0][round] / seconds[1][round]);
        to_lsusb.push_back(seconds[0][round] / seconds[2][round]);
        memory_to_floor.push_back(peaks[0][round] / peaks[1][round]);
    }
    std::printf("\nmedian of the per-round ratios\n");
    std::printf("usbprobe/floor wall time    %.3f\n", median(to_floor));
    std::printf("usbprobe/lsusb wall time    %.3f\n", median(to_lsusb));
    std::printf("usbprobe/floor peak memory  %.3f\n", median(memory_to_floor));
    g_object_unref(testbed);
    return 0;
}
