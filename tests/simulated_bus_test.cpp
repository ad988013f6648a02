// Checks every byte the tool prints with the real libusb on simulated USB buses (umockdev).
// Usage: ctest --preset ci -R SimulatedBus   (SimulatedBus.* and SimulatedBusConsole.*)
//
// libusb lists devices in an order of its own, so the runner compares the
// device lines as a set; everything after them is compared byte for byte.
// The opened handle's value is not known in advance: a non-zero number in the
// report is shown as "N".

#include <algorithm>
#include <regex>
#include <sstream>

#include <gtest/gtest.h>

#include "support/child_process.h"
#include "words.h"

namespace {

const std::string prompt = USBPROBE_PROMPT;
const std::string opened = USBPROBE_OPENED "N";
const std::string not_opened = USBPROBE_CLOSED;

std::vector<std::string> on_bus(const std::string &bus)
{
    std::vector<std::string> command{"umockdev-run"};
    if (!bus.empty())
        command.insert(command.end(), {"--device", std::string(BUSES_DIR) + "/" + bus + ".umockdev"});
    command.insert(command.end(), {"--", USBPROBE});
    return command;
}

std::string regex_quoted(const std::string &text)
{
    return std::regex_replace(text, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
}

std::string comparable(std::string output)
{
    output = std::regex_replace(output, std::regex(regex_quoted(USBPROBE_OPENED) + "-?[1-9][0-9]*$"), opened);
    const auto listing_end = output.find(prompt);
    if (listing_end == std::string::npos)
        return output;
    std::vector<std::string> lines;
    std::istringstream listing(output.substr(0, listing_end));
    for (std::string line; std::getline(listing, line);)
        lines.push_back(line + "\n");
    std::sort(lines.begin(), lines.end());
    std::string sorted;
    for (const auto &line : lines)
        sorted += line;
    return sorted + output.substr(listing_end);
}

struct BusCase {
    const char *name;
    std::string bus;  // file in tests/buses, without extension; empty: no device at all
    std::string input;
    bool input_ends;  // input reaches end of file after `input`
    std::string expected_output;
};

const BusCase cases[] = {
    {"target_openable", "target_openable", "x\n", false,
     list_line(0x1A86, 0x7523) + prompt + opened},
    {"target_attached_not_openable", "target_not_openable", "x\n", false,
     list_line(0x1A86, 0x7523) + prompt + not_opened},
    {"no_device_starts_with_prompt", "", "x\n", false, prompt + not_opened},
    {"target_twice_among_others", "target_twice_among_others", "x\n", false,
     list_line(0x0403, 0x6001) + list_line(0x046D, 0xC52B) +
     list_line(0x1A86, 0x7523) + list_line(0x1A86, 0x7523) + prompt + opened},
    {"ids_zero_padded_upper_case", "ids_needing_padding", "x\n", false,
     list_line(0x0000, 0x000F) + list_line(0x0001, 0x00AB) + list_line(0xABCD, 0x0FED) + prompt + not_opened},
    {"input_at_end_of_file", "target_openable", "", true,
     list_line(0x1A86, 0x7523) + prompt + opened},
    {"line_end_then_end_of_file", "target_not_openable", "\n", true,
     list_line(0x1A86, 0x7523) + prompt + not_opened},
};

void PrintTo(const BusCase &c, std::ostream *out) { *out << c.name; }

class SimulatedBus : public testing::TestWithParam<BusCase> {};

TEST_P(SimulatedBus, PrintsExpectedBytesAndEnds)
{
    const BusCase &c = GetParam();
    const Finished run = run_to_end(on_bus(c.bus), c.input, c.input_ends);
    EXPECT_FALSE(run.timed_out);
    EXPECT_EQ(comparable(run.output), c.expected_output);
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(run.status, 0);
}

INSTANTIATE_TEST_SUITE_P(, SimulatedBus, testing::ValuesIn(cases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(SimulatedBusConsole, PromptIsReadableBeforeAnyInput)
{
    ChildProcess tool(on_bus("target_openable"));
    EXPECT_TRUE(tool.wait_for_output(prompt, 20s)) << tool.output();
    EXPECT_FALSE(tool.wait_for_exit(300ms));
    EXPECT_EQ(tool.output().substr(tool.output().find(prompt)), prompt) << "a report before any key";
    tool.type("x\n");
    ASSERT_TRUE(tool.wait_for_exit(20s));
    EXPECT_EQ(tool.status(), 0);
}

TEST(SimulatedBusConsole, LineEndAloneLeavesSecondWaitBlocked)
{
    ChildProcess tool(on_bus("target_not_openable"));
    tool.type("\n");
    ASSERT_TRUE(tool.wait_for_output(not_opened, 20s)) << tool.output();
    EXPECT_FALSE(tool.wait_for_exit(500ms));
    tool.type("y");
    ASSERT_TRUE(tool.wait_for_exit(20s));
    EXPECT_EQ(tool.status(), 0);
    EXPECT_EQ(tool.errors(), "");
}

} // namespace
