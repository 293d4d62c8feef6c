// The dispatch rules: parameter lengths, statuses from handler errors, unsupported commands.
#include "ControllerHarness.h"

#include <gtest/gtest.h>

#include <fmt/format.h>

#include <new>

namespace
{

using namespace Pd::Bt;
using namespace Pd::Bt::Test;

TEST(Dispatch, PacketsShorterThanThreeBytesAreIgnored)
{
    ControllerHarness h;
    EXPECT_TRUE(h.RawCommand({0x03, 0x0C}).empty());
    EXPECT_TRUE(h.RawCommand({}).empty());
}

TEST(Dispatch, DeclaredLengthBeyondThePacketLeavesOnlyTheBytesPresent)
{
    ControllerHarness h;
    // LE Set Random Address declaring 5 bytes and carrying none: too short.
    EXPECT_EQ(h.RawCommand({0x05, 0x20, 0x05}), Events{CommandComplete(0x2005, 0x12)});
}

TEST(Dispatch, BytesBeyondTheDeclaredLengthAreIgnored)
{
    ControllerHarness h;
    h.RawCommand({0x13, 0x0C, 0x02, 'H', 'i', 'X', 'Y'}); // Write Local Name, declared 2
    auto events = h.Command(0x0C14);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(Bytes(events[0].begin() + 6, events[0].begin() + 9), (Bytes{'H', 'i', 0x00}));
}

TEST(Dispatch, TooShortParametersAnswer0x12InTheCommandsOwnForm)
{
    ControllerHarness h;
    EXPECT_EQ(h.Command(0x2017, Bytes(31)), Events{CommandComplete(0x2017, 0x12)}) << "LE Encrypt";
    EXPECT_EQ(h.Command(0x1004), Events{CommandComplete(0x1004, 0x12)}) << "extended features";
    EXPECT_EQ(h.Command(0x0406, {0x40}), Events{CommandStatus(0x0406, 0x12)}) << "Disconnect";
    EXPECT_EQ(h.Command(0x200D, Bytes(20)), Events{CommandStatus(0x200D, 0x12)}) << "LE Create Connection";
    EXPECT_EQ(h.Command(0x2013, Bytes(9)), Events{CommandStatus(0x2013, 0x12)});
    EXPECT_EQ(h.Command(0x0419, Bytes(5)), Events{CommandStatus(0x0419, 0x12)});
    EXPECT_EQ(h.Command(0x041A, Bytes(5)), Events{CommandStatus(0x041A, 0x12)});
}

TEST(Dispatch, HciStatusOfAHandlerBecomesItsCommandComplete)
{
    ControllerHarness h;
    EXPECT_EQ(h.Command(0x200E), Events{CommandComplete(0x200E, 0x0C)}) << "cancel without attempt";
    EXPECT_EQ(h.Command(0x1405, {0x40, 0x00}), Events{CommandComplete(0x1405, 0x02)}) << "RSSI, no link";
}

TEST(Dispatch, RandomGeneratorFailureIsLoggedAndAnswered0x03)
{
    ControllerServices services;
    services.random = [](std::span<std::uint8_t>) { throw std::runtime_error("BCryptGenRandom failed"); };
    ControllerHarness h(services);
    EXPECT_EQ(h.Command(0x2018), Events{CommandComplete(0x2018, 0x03)});
    EXPECT_EQ(h.LogLines().back(), "hci: command 0x2018 failed: BCryptGenRandom failed");
}

TEST(Dispatch, ErrorsOutsideTheStandardFamilyStillAnswer0x03AndTheControllerGoesOn)
{
    ControllerServices services;
    services.encrypt = [](const Block&, const Block&) -> Block { throw 42; };
    services.random = [](std::span<std::uint8_t>) { throw std::bad_alloc(); };
    ControllerHarness h(services);
    EXPECT_EQ(h.Command(0x2017, Bytes(32)), Events{CommandComplete(0x2017, 0x03)});
    EXPECT_EQ(h.Command(0x2018), Events{CommandComplete(0x2018, 0x03)});
    EXPECT_EQ(h.Command(0x0C19), Events{CommandComplete(0x0C19, 0x00, {0x00})});
}

struct UnsupportedCase
{
    std::uint16_t opcode;
    bool complete;
    const char* name;
};

TEST(Dispatch, UnsupportedCommandsAreAnsweredInTheFormTheirHostExpects)
{
    const UnsupportedCase cases[] = {
        {0x0000, true, "?"},                               // OGF 0, not in list B
        {0xFC01, true, "VENDOR_SPECIFIC"},                 // vendor-specific
        {0x0403, false, "PERIODIC_INQUIRY_MODE"},          // OGF 1, not in list A
        {0x0404, true, "EXIT_PERIODIC_INQUIRY_MODE"},      // OGF 1, list A
        {0x0443, true, "START_SYNCHRONIZATION_TRAIN"},     // OGF 1, list A
        {0x0405, false, "CREATE_CONNECTION"},              // OGF 1, not in list A
        {0x2025, false, "LE_READ_LOCAL_P_256_PUBLIC_KEY"}, // list B
        {0x2044, false, "LE_PERIODIC_ADVERTISING_CREATE_SYNC"},
        {0x0C08, true, "FLUSH"}, // OGF 3, not in list B
        {0x2042, true, "LE_SET_EXTENDED_SCAN_ENABLE"},
    };
    ControllerHarness h;
    for (const UnsupportedCase& c : cases)
    {
        auto events = h.Command(c.opcode, {0xAB});
        Bytes expected = c.complete ? CommandComplete(c.opcode, 0x01) : CommandStatus(c.opcode, 0x01);
        EXPECT_EQ(events, Events{expected}) << std::hex << c.opcode;
        EXPECT_EQ(h.LogLines().back(),
                  fmt::format("hci: unsupported command 0x{:04X} {} params ab", c.opcode, c.name));
    }
}

TEST(Dispatch, UnsupportedCommandDumpShowsAtMost48Bytes)
{
    ControllerHarness h;
    Bytes parameters(49);
    for (std::size_t i = 0; i < parameters.size(); ++i)
        parameters[i] = static_cast<std::uint8_t>(0xA0 + i % 16);
    std::string dump;
    for (std::size_t i = 0; i < 48; ++i)
        dump += fmt::format("{:02x}", parameters[i]);

    h.Command(0x0000, parameters);
    EXPECT_EQ(h.LogLines().back(), "hci: unsupported command 0x0000 ? params " + dump + "... (49 bytes)");
    h.Command(0x0000, Bytes(parameters.begin(), parameters.begin() + 48));
    EXPECT_EQ(h.LogLines().back(), "hci: unsupported command 0x0000 ? params " + dump);
    h.Command(0x0000);
    EXPECT_EQ(h.LogLines().back(), "hci: unsupported command 0x0000 ? params ");
}

TEST(Dispatch, FailureAfterTheCommandWasAnsweredIsLoggedWithoutASecondAnswer)
{
    FakeRadio radio;
    ControllerServices services;
    services.connectLink = radio.Connector();
    ControllerHarness h(services);
    h.Command(0x200D, Bytes(25, 0x00));
    ASSERT_TRUE(h.WaitForPackets(2)); // Command Status, LE Connection Complete
    {
        std::lock_guard guard(radio.links.at(0)->lock);
        radio.links[0]->throwOnPush = true;
    }
    auto events = h.Command(0x2019, {0x40, 0x00});
    EXPECT_EQ(events, (Events{CommandStatus(0x2019, 0x00), Event(0x08, {0x00, 0x40, 0x00, 0x01})}));
    EXPECT_EQ(h.LogLines().back(), "hci: command 0x2019 failed: link queue refused");
    EXPECT_EQ(h.Command(0x0C19), Events{CommandComplete(0x0C19, 0x00, {0x00})});
}

} // namespace
