// Checks the tool against a stand-in libusb that plays the failures a simulated bus cannot produce.
// Usage: ctest --preset ci -R LibraryFailure   (in a Windows tree: -R library_calls_on_stand_in_libusb)
// The stand-in records every library call in order. The call log is read twice: while the
// prompt waits for a key (everything is still held) and after the tool has ended (everything
// released, in order).
//
// A Windows build runs the same table under wine: USBPROBE_WINE names the wine
// loader, and the exe prints "\r\n" for each line end and reads Windows paths.

#include <cstdlib>

#include <gtest/gtest.h>

#include "support/child_process.h"
#include "words.h"

namespace {

const std::string prompt = USBPROBE_PROMPT;
const std::string closed = USBPROBE_CLOSED;
const std::string opened = USBPROBE_OPENED;
const std::string opened_and_released_in_order =
    "free_device_list list=stored unref=1\n"
    "close handle=opened\n"
    "exit ctx=null\n";
const std::string not_opened_and_released_in_order =
    "free_device_list list=stored unref=1\n"
    "close handle=null\n"
    "exit ctx=null\n";

struct LibraryCase {
    const char *name;
    int pointer_bits;  // the builds whose handles the case is about; 0: every build
    std::vector<std::string> settings;
    std::string expected_output;
    std::string calls_before_key, calls_after_key;
};

const LibraryCase cases[] = {
    {"init_fails_makes_no_further_call", 0,
     {"FAKE_LIBUSB_INIT=-99", "FAKE_LIBUSB_DEVICES=1A86:7523", "FAKE_LIBUSB_HANDLE=4096"},
     prompt + closed,
     "init ctx=null -> -99\n", ""},
    {"negative_count_reads_no_entry_and_frees_no_list", 0,
     {"FAKE_LIBUSB_COUNT=-1", "FAKE_LIBUSB_DEVICES=1A86:7523", "FAKE_LIBUSB_HANDLE=4096"},
     prompt + opened + "4096",
     "init ctx=null -> 0\n"
     "get_device_list ctx=null -> -1\n"
     "open_device_with_vid_pid ctx=null vendor=6790 product=29987 -> handle\n",
     "close handle=opened\n"
     "exit ctx=null\n"},
    {"negative_count_without_target", 0,
     {"FAKE_LIBUSB_COUNT=-4"},
     prompt + closed,
     "init ctx=null -> 0\n"
     "get_device_list ctx=null -> -4\n"
     "open_device_with_vid_pid ctx=null vendor=6790 product=29987 -> null\n",
     "close handle=null\n"
     "exit ctx=null\n"},
    {"failed_descriptor_read_shows_zeros_not_previous_ids", 0,
     {"FAKE_LIBUSB_DEVICES=1A86:7523 fail ABCD:00EF fail"},
     list_line(0x1A86, 0x7523) + list_line(0x0000, 0x0000) +
     list_line(0xABCD, 0x00EF) + list_line(0x0000, 0x0000) + prompt + closed,
     "init ctx=null -> 0\n"
     "get_device_list ctx=null -> 4\n"
     "get_device_descriptor device=0\nget_device_descriptor device=1\n"
     "get_device_descriptor device=2\nget_device_descriptor device=3\n"
     "open_device_with_vid_pid ctx=null vendor=6790 product=29987 -> null\n",
     not_opened_and_released_in_order},
    {"opened_handle_printed_after_list_freed_and_handle_closed", 0,
     {"FAKE_LIBUSB_DEVICES=0403:6001 1A86:7523", "FAKE_LIBUSB_HANDLE=0x7ff01000"},
     list_line(0x0403, 0x6001) + list_line(0x1A86, 0x7523) + prompt + opened + "2146439168",
     "init ctx=null -> 0\n"
     "get_device_list ctx=null -> 2\n"
     "get_device_descriptor device=0\nget_device_descriptor device=1\n"
     "open_device_with_vid_pid ctx=null vendor=6790 product=29987 -> handle\n",
     opened_and_released_in_order},
    {"handle_from_2_31_up_printed_as_signed_32_bit_number", 32,
     {"FAKE_LIBUSB_DEVICES=1A86:7523", "FAKE_LIBUSB_HANDLE=0x80001000"},
     list_line(0x1A86, 0x7523) + prompt + opened + "-2147479552",
     "init ctx=null -> 0\n"
     "get_device_list ctx=null -> 1\n"
     "get_device_descriptor device=0\n"
     "open_device_with_vid_pid ctx=null vendor=6790 product=29987 -> handle\n",
     opened_and_released_in_order},
    {"handle_wider_than_32_bits_printed_whole", 64,
     {"FAKE_LIBUSB_DEVICES=1A86:7523", "FAKE_LIBUSB_HANDLE=0x7f0012345678"},
     list_line(0x1A86, 0x7523) + prompt + opened + "139638282147448",
     "init ctx=null -> 0\n"
     "get_device_list ctx=null -> 1\n"
     "get_device_descriptor device=0\n"
     "open_device_with_vid_pid ctx=null vendor=6790 product=29987 -> handle\n",
     opened_and_released_in_order},
    {"empty_list_is_still_freed", 0,
     {},
     prompt + closed,
     "init ctx=null -> 0\n"
     "get_device_list ctx=null -> 0\n"
     "open_device_with_vid_pid ctx=null vendor=6790 product=29987 -> null\n",
     not_opened_and_released_in_order},
};

const char *const wine = std::getenv("USBPROBE_WINE");

std::string as_printed(const std::string &text)
{
    std::string printed;
    for (char c : text)
        printed += wine && c == '\n' ? std::string("\r\n") : std::string(1, c);
    return printed;
}

void PrintTo(const LibraryCase &c, std::ostream *out) { *out << c.name; }

class LibraryFailure : public testing::TestWithParam<LibraryCase> {};

TEST_P(LibraryFailure, HoldsEverythingAtThePromptThenPrintsAndReleasesInOrder)
{
    const LibraryCase &c = GetParam();
    const std::string log_path = private_temp_dir() + "/calls_" + c.name;
    std::vector<std::string> environment = c.settings;
    environment.push_back("FAKE_LIBUSB_LOG=" + std::string(wine ? "Z:" : "") + log_path);
    std::vector<std::string> command{USBPROBE_ON_FAKE_LIBUSB};
    if (wine)
        command.insert(command.begin(), wine);

    ChildProcess tool(command, environment);
    ASSERT_TRUE(tool.wait_for_output(as_printed(prompt), 20s)) << tool.output();
    EXPECT_EQ(file_contents(log_path), c.calls_before_key);
    tool.end_input();
    ASSERT_TRUE(tool.wait_for_exit(20s));

    EXPECT_EQ(tool.output(), as_printed(c.expected_output));
    EXPECT_EQ(tool.errors(), "");
    EXPECT_EQ(tool.status(), 0);
    EXPECT_EQ(file_contents(log_path), c.calls_before_key + c.calls_after_key);
}

// The cases for this build's pointer width, and those for every build.
std::vector<LibraryCase> for_this_build()
{
    std::vector<LibraryCase> these;
    for (const LibraryCase &c : cases)
        if (c.pointer_bits == 0 || c.pointer_bits == USBPROBE_POINTER_BITS)
            these.push_back(c);
    return these;
}

INSTANTIATE_TEST_SUITE_P(, LibraryFailure, testing::ValuesIn(for_this_build()),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
