// The tool against a stand-in libusb that injects the failures a simulated
// bus cannot produce and records every library call in order.

#include <gtest/gtest.h>

#include "support/child_process.h"

namespace {

const std::string prompt = "\nTaste druecken fuer Pruefung ob 1A86:7523 offen ist.\n\n";

struct LibraryCase {
    const char *name;
    std::vector<std::string> settings;
    std::string expected_output;
    std::string expected_calls;
};

const LibraryCase cases[] = {
    {"init_fails_makes_no_further_call",
     {"FAKE_LIBUSB_INIT=-99", "FAKE_LIBUSB_DEVICES=1A86:7523", "FAKE_LIBUSB_HANDLE=4096"},
     prompt + "HANDLE_WERT: 0 ... geschlossen",
     "init ctx=null -> -99\n"},
    {"negative_count_reads_no_entry_and_frees_no_list",
     {"FAKE_LIBUSB_COUNT=-1", "FAKE_LIBUSB_DEVICES=1A86:7523", "FAKE_LIBUSB_HANDLE=4096"},
     prompt + "Offen ... HANDLE_WERT: 4096",
     "init ctx=null -> 0\n"
     "get_device_list ctx=null -> -1\n"
     "open_device_with_vid_pid ctx=null vendor=6790 product=29987 -> handle\n"
     "close handle=opened\n"
     "exit ctx=null\n"},
    {"negative_count_without_target",
     {"FAKE_LIBUSB_COUNT=-4"},
     prompt + "HANDLE_WERT: 0 ... geschlossen",
     "init ctx=null -> 0\n"
     "get_device_list ctx=null -> -4\n"
     "open_device_with_vid_pid ctx=null vendor=6790 product=29987 -> null\n"
     "close handle=null\n"
     "exit ctx=null\n"},
    {"failed_descriptor_read_shows_zeros_not_previous_ids",
     {"FAKE_LIBUSB_DEVICES=1A86:7523 fail ABCD:00EF fail"},
     "Vendor:Device = 1A86:7523\nVendor:Device = 0000:0000\n"
     "Vendor:Device = ABCD:00EF\nVendor:Device = 0000:0000\n" + prompt + "HANDLE_WERT: 0 ... geschlossen",
     "init ctx=null -> 0\n"
     "get_device_list ctx=null -> 4\n"
     "get_device_descriptor device=0\nget_device_descriptor device=1\n"
     "get_device_descriptor device=2\nget_device_descriptor device=3\n"
     "open_device_with_vid_pid ctx=null vendor=6790 product=29987 -> null\n"
     "free_device_list list=stored unref=1\n"
     "close handle=null\n"
     "exit ctx=null\n"},
    {"opened_handle_printed_whole_after_list_freed_and_handle_closed",
     {"FAKE_LIBUSB_DEVICES=0403:6001 1A86:7523", "FAKE_LIBUSB_HANDLE=0x7f0012345678"},
     "Vendor:Device = 0403:6001\nVendor:Device = 1A86:7523\n" + prompt + "Offen ... HANDLE_WERT: 139638282147448",
     "init ctx=null -> 0\n"
     "get_device_list ctx=null -> 2\n"
     "get_device_descriptor device=0\nget_device_descriptor device=1\n"
     "open_device_with_vid_pid ctx=null vendor=6790 product=29987 -> handle\n"
     "free_device_list list=stored unref=1\n"
     "close handle=opened\n"
     "exit ctx=null\n"},
    {"empty_list_is_still_freed",
     {},
     prompt + "HANDLE_WERT: 0 ... geschlossen",
     "init ctx=null -> 0\n"
     "get_device_list ctx=null -> 0\n"
     "open_device_with_vid_pid ctx=null vendor=6790 product=29987 -> null\n"
     "free_device_list list=stored unref=1\n"
     "close handle=null\n"
     "exit ctx=null\n"},
};

void PrintTo(const LibraryCase &c, std::ostream *out) { *out << c.name; }

class LibraryFailure : public testing::TestWithParam<LibraryCase> {};

TEST_P(LibraryFailure, PrintsExpectedBytesAndMakesExpectedCalls)
{
    const LibraryCase &c = GetParam();
    const std::string log_path = testing::TempDir() + "usbprobe_calls_" + c.name;
    std::vector<std::string> environment = c.settings;
    environment.push_back("FAKE_LIBUSB_LOG=" + log_path);

    const Finished run = run_to_end({USBPROBE_ON_FAKE_LIBUSB}, "", true, environment);

    EXPECT_FALSE(run.timed_out);
    EXPECT_EQ(run.output, c.expected_output);
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(file_contents(log_path), c.expected_calls);
}

INSTANTIATE_TEST_SUITE_P(, LibraryFailure, testing::ValuesIn(cases),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
