// Checks that devices leaving or arriving while the tool waits for the first key change nothing it prints.
// Usage: ctest --preset ci -R HotplugDuringWait   (runs it under umockdev-wrapper)
// The tool took its snapshot and opened the target before the prompt, so neither change shows
// in what it prints. The testbed built here is the bus the tool sees.

#include <algorithm>
#include <regex>
#include <thread>

#include <gtest/gtest.h>
#include <umockdev.h>

#include "support/child_process.h"
#include "words.h"

namespace {

const std::string prompt = USBPROBE_PROMPT;
const std::string target = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1";
const std::string arrivals[] = {"/sys/devices/pci0000:00/0000:00:14.0/usb3/3-1",
                                "/sys/devices/pci0000:00/0000:00:14.0/usb3/3-2"};

class HotplugDuringWait : public testing::Test {
protected:
    void SetUp() override
    {
        testbed_ = umockdev_testbed_new();
        add_bus("target_openable");
    }
    void TearDown() override { g_object_unref(testbed_); }

    void add_bus(const std::string &name)
    {
        GError *error = nullptr;
        const std::string path = std::string(BUSES_DIR) + "/" + name + ".umockdev";
        ASSERT_TRUE(umockdev_testbed_add_from_file(testbed_, path.c_str(), &error))
            << (error ? error->message : path);
    }

    // Runs the tool until it shows the prompt, lets `while_waiting` change the
    // bus, then presses a key and expects the report for the bus it started on.
    template <typename Change> void expect_unchanged_report(Change while_waiting)
    {
        ChildProcess tool({USBPROBE});
        ASSERT_TRUE(tool.wait_for_output(prompt, 20s)) << tool.output() << tool.errors();
        while_waiting();
        std::this_thread::sleep_for(300ms);  // time for libusb to take in the events
        tool.type("x\n");
        ASSERT_TRUE(tool.wait_for_exit(20s));
        const std::string opened = list_line(0x1A86, 0x7523) + prompt + USBPROBE_OPENED;
        EXPECT_EQ(tool.output().substr(0, opened.size()), opened);
        EXPECT_TRUE(std::regex_match(tool.output().substr(std::min(opened.size(), tool.output().size())),
                                     std::regex("[1-9][0-9]*")))
            << tool.output();
        EXPECT_EQ(tool.errors(), "");
        EXPECT_EQ(tool.status(), 0);
    }

    UMockdevTestbed *testbed_ = nullptr;
};

TEST_F(HotplugDuringWait, TargetUnpluggedStillReportedOpen)
{
    expect_unchanged_report([&] {
        umockdev_testbed_uevent(testbed_, target.c_str(), "remove");
        umockdev_testbed_remove_device(testbed_, target.c_str());
    });
}

TEST_F(HotplugDuringWait, DevicesArrivingChangeNothing)
{
    expect_unchanged_report([&] {
        add_bus("arriving_during_wait");
        for (const auto &device : arrivals)
            umockdev_testbed_uevent(testbed_, device.c_str(), "add");
    });
}

} // namespace
