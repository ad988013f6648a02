// Checks that the tool, its output unwritable, still releases every library resource in order and exits 0.
// Usage: ctest --preset ci -R UnwritableOutput

#include <gtest/gtest.h>

#include "support/child_process.h"

namespace {

struct UnwritableCase {
    const char *name;
    std::string shell_redirect;  // empty: a pipe whose reader has gone
};

const UnwritableCase cases[] = {
    {"full_device", ">/dev/full"},
    {"closed_descriptor", ">&-"},
    {"pipe_without_reader", ""},
};

void PrintTo(const UnwritableCase &c, std::ostream *out) { *out << c.name; }

class UnwritableOutput : public testing::TestWithParam<UnwritableCase> {};

TEST_P(UnwritableOutput, ReleasesEverythingAndExitsZero)
{
    const UnwritableCase &c = GetParam();
    const std::string log_path = private_temp_dir() + "/calls_" + c.name;
    std::vector<std::string> command{USBPROBE_ON_FAKE_LIBUSB};
    if (!c.shell_redirect.empty())
        command = {"sh", "-c", "exec \"$0\" " + c.shell_redirect, USBPROBE_ON_FAKE_LIBUSB};

    ChildProcess tool(command, {"FAKE_LIBUSB_DEVICES=1A86:7523 0403:6001", "FAKE_LIBUSB_HANDLE=4096",
                                "FAKE_LIBUSB_LOG=" + log_path});
    tool.close_output();
    tool.type("x\n");
    ASSERT_TRUE(tool.wait_for_exit(20s));

    EXPECT_EQ(tool.status(), 0);
    EXPECT_EQ(tool.errors(), "");
    EXPECT_EQ(file_contents(log_path),
              "init ctx=null -> 0\n"
              "get_device_list ctx=null -> 2\n"
              "get_device_descriptor device=0\nget_device_descriptor device=1\n"
              "open_device_with_vid_pid ctx=null vendor=6790 product=29987 -> handle\n"
              "free_device_list list=stored unref=1\n"
              "close handle=opened\n"
              "exit ctx=null\n");
}

INSTANTIATE_TEST_SUITE_P(, UnwritableOutput, testing::ValuesIn(cases),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
