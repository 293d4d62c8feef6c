// The answers of the commands, the parameter checks, the supported-commands bitmap, the stored
// settings and the dispatch rules for short packets, failing handlers and unsupported commands.
#include "ControllerHarness.h"

#include "bt/hci/CommandTable.h"

#include <gtest/gtest.h>

#include <fmt/format.h>

#include <set>

namespace
{

using namespace Pd::Bt;
using namespace Pd::Bt::Test;

Bytes Padded(Bytes bytes, std::size_t size)
{
    bytes.resize(size, 0x00);
    return bytes;
}

struct CommandCase
{
    std::uint16_t opcode;
    Bytes parameters;
    Events events;
    std::string logged = {}; // the last log line afterwards, when given
};

// One controller takes the commands in order: later rows see what earlier ones stored.
TEST(Commands, AnswerWithTheirReturnParametersOrTheStatusOfTheirCheck)
{
    const Bytes remote = {1, 2, 3, 4, 5, 6};
    Bytes counting;
    std::string dump;
    for (std::uint8_t i = 0; i < 48; ++i)
    {
        counting.push_back(i);
        dump += fmt::format("{:02x}", i);
    }
    Bytes countingPlusOne = counting;
    countingPlusOne.push_back(0xFF);
    const CommandCase cases[] = {
        // Fixed answers.
        {0x080E, {}, {CommandComplete(0x080E, 0, {0x05, 0x00})}},
        {0x0C19, {}, {CommandComplete(0x0C19, 0, {0x00})}},
        {0x0C23, {}, {CommandComplete(0x0C23, 0, {0x0C, 0x01, 0x0C})}},
        {0x0C25, {}, {CommandComplete(0x0C25, 0, {0x60, 0x00})}},
        {0x0C38, {}, {CommandComplete(0x0C38, 0, {0x01})}},
        {0x0C39, {}, {CommandComplete(0x0C39, 0, {0x01, 0x33, 0x8B, 0x9E})}},
        {0x0C58, {}, {CommandComplete(0x0C58, 0, {0x00})}},
        {0x0C6C, {}, {CommandComplete(0x0C6C, 0, {0x01, 0x00})}},
        {0x1001, {}, {CommandComplete(0x1001, 0, {0x08, 0x01, 0x00, 0x08, 0xFF, 0xFF, 0x01, 0x00})}},
        {0x1003, {}, {CommandComplete(0x1003, 0, {0xFF, 0xFF, 0x8F, 0x7E, 0xD8, 0x1F, 0x5B, 0x87})}},
        {0x1005, {}, {CommandComplete(0x1005, 0, {0xFD, 0x03, 0x40, 0x08, 0x00, 0x08, 0x00})}},
        {0x1009, {}, {CommandComplete(0x1009, 0, {0x42, 0xEE, 0xFF, 0xC0, 0x00, 0x00})}},
        {0x2002, {}, {CommandComplete(0x2002, 0, {0xFB, 0x00, 0x08})}},
        {0x2003, {}, {CommandComplete(0x2003, 0, {0x1F, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00})}},
        {0x2007, {}, {CommandComplete(0x2007, 0, {0x00})}},
        {0x200F, {}, {CommandComplete(0x200F, 0, {0x10})}},
        {0x201C, {}, {CommandComplete(0x201C, 0, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x03, 0x00, 0x00})}},
        // Extended features per page.
        {0x1004,
         {0x00},
         {CommandComplete(0x1004, 0, {0, 2, 0xFF, 0xFF, 0x8F, 0x7E, 0xD8, 0x1F, 0x5B, 0x87})}},
        {0x1004, {0x01}, {CommandComplete(0x1004, 0, {1, 2, 0x0F, 0, 0, 0, 0, 0, 0, 0})}},
        {0x1004, {0x02}, {CommandComplete(0x1004, 0, {2, 2, 0x00, 0x03, 0, 0, 0, 0, 0, 0})}},
        {0x1004, {0x07}, {CommandComplete(0x1004, 0, {7, 2, 0, 0, 0, 0, 0, 0, 0, 0})}},
        // LE Encrypt with the sample key and plaintext, least significant byte first.
        {0x2017,
         {0xBF, 0x01, 0xFB, 0x9D, 0x4E, 0xF3, 0xBC, 0x36, 0xD8, 0x74, 0xF5, 0x39, 0x41, 0x38, 0x68, 0x4C,
          0x13, 0x02, 0xF1, 0xE0, 0xDF, 0xCE, 0xBD, 0xAC, 0x79, 0x68, 0x57, 0x46, 0x35, 0x24, 0x13, 0x02},
         {CommandComplete(0x2017, 0,
                          {0x66, 0xC6, 0xC2, 0x27, 0x8E, 0x3B, 0x8E, 0x05, 0x3E, 0x7E, 0xA3, 0x26, 0x52, 0x1B,
                           0xAD, 0x99})}},
        // The local name: kept up to its first zero byte, read back in 248 bytes, kept by Reset.
        {0x0C14, {}, {CommandComplete(0x0C14, 0, Padded({'A', 'n', 'd', 'r', 'o', 'i', 'd'}, 248))}},
        {0x0C13, {'P', 'i', 'x', 0x00, 'Z'}, {CommandComplete(0x0C13, 0)}, "hci: local name \"Pix\""},
        {0x0C03, {}, {CommandComplete(0x0C03, 0)}, "hci: reset"},
        {0x0C14, {}, {CommandComplete(0x0C14, 0, Padded({'P', 'i', 'x'}, 248))}},
        {0x0C13, {'a', '\n', 'b'}, {CommandComplete(0x0C13, 0)}, "hci: local name \"a\\x0Ab\""},
        // Invalid UTF-8, a C1 control, a line separator, a right-to-left override and a quote.
        {0x0C13,
         {'"', 0xFF, 0xC2, 0x85, 0xE2, 0x80, 0xA8, 0xE2, 0x80, 0xAE, 'x'},
         {CommandComplete(0x0C13, 0)},
         "hci: local name \"\\x22\\xFF\\u0085\\u2028\\u202Ex\""},
        {0x0C13, Bytes(248, 'N'), {CommandComplete(0x0C13, 0)}},
        {0x0C14, {}, {CommandComplete(0x0C14, 0, Padded(Bytes(247, 'N'), 248))}}, // room for the zero
        {0x0C13, {}, {CommandComplete(0x0C13, 0)}, "hci: local name \"\""},
        {0x0C14, {}, {CommandComplete(0x0C14, 0, Bytes(248, 0x00))}},
        // Too-short parameters answer 0x12 in the command's own form.
        {0x2017, Bytes(31), {CommandComplete(0x2017, 0x12)}},
        {0x1004, {}, {CommandComplete(0x1004, 0x12)}},
        {0x2005, {1, 2, 3, 4, 5}, {CommandComplete(0x2005, 0x12)}},
        {0x200B, {}, {CommandComplete(0x200B, 0x12)}},
        {0x200C, {0x01}, {CommandComplete(0x200C, 0x12)}},
        {0x1405, {0x40}, {CommandComplete(0x1405, 0x12)}},
        {0x0406, {0x40}, {CommandStatus(0x0406, 0x12)}},
        {0x200D, Bytes(20), {CommandStatus(0x200D, 0x12)}},
        {0x2013, Bytes(9), {CommandStatus(0x2013, 0x12)}},
        {0x0419, Bytes(5), {CommandStatus(0x0419, 0x12)}},
        {0x041A, Bytes(5), {CommandStatus(0x041A, 0x12)}},
        // Nothing to cancel, and handles without a link.
        {0x200E, {}, {CommandComplete(0x200E, 0x0C)}},
        // A failed Command Complete still names the connection it is about, with every return
        // parameter a host's parser reads (the RSSI zero).
        {0x1405, {0x40, 0x00}, {CommandComplete(0x1405, 0x02, {0x40, 0x00, 0x00})}},
        {0x1405, {0x41, 0xF0}, {CommandComplete(0x1405, 0x02, {0x41, 0x00, 0x00})}},
        {0x0406, {0x40, 0x00, 0x13}, {CommandStatus(0x0406, 0x02)}},
        {0x041D, {0x41, 0x00}, {CommandStatus(0x041D, 0x02)}},
        {0x2013, {0x41, 0x00, 0, 0, 0, 0, 0, 0, 0, 0}, {CommandStatus(0x2013, 0x02)}},
        {0x2016, {0x41, 0x00}, {CommandStatus(0x2016, 0x02)}},
        {0x2019, {0x41, 0x00}, {CommandStatus(0x2019, 0x02)}},
        // Names of devices never seen.
        {0x0419, remote, {CommandStatus(0x0419, 0), Event(0x07, Padded({0x04, 1, 2, 3, 4, 5, 6}, 255))}},
        {0x041A, remote, {CommandComplete(0x041A, 0, remote)}},
        // Unsupported commands: completed or acknowledged as their host expects, logged with up to
        // 48 parameter bytes.
        {0x0000, {0xAB}, {CommandComplete(0x0000, 1)}, "hci: unsupported command 0x0000 ? params ab"},
        {0xFC01, {}, {CommandComplete(0xFC01, 1)}, "hci: unsupported command 0xFC01 VENDOR_SPECIFIC params "},
        {0x0403,
         {},
         {CommandStatus(0x0403, 1)},
         "hci: unsupported command 0x0403 PERIODIC_INQUIRY_MODE params "},
        {0x0404,
         {},
         {CommandComplete(0x0404, 1)},
         "hci: unsupported command 0x0404 EXIT_PERIODIC_INQUIRY_MODE params "},
        {0x0412, {}, {CommandComplete(0x0412, 1)}},
        {0x2032, {}, {CommandStatus(0x2032, 1)}},
        {0x0443, {}, {CommandComplete(0x0443, 1)}},
        {0x0405, {}, {CommandStatus(0x0405, 1)}},
        {0x2025, {}, {CommandStatus(0x2025, 1)}},
        {0x2044, {}, {CommandStatus(0x2044, 1)}},
        {0x0C08, {}, {CommandComplete(0x0C08, 1)}, "hci: unsupported command 0x0C08 FLUSH params "},
        {0x2042, {}, {CommandComplete(0x2042, 1)}},
        {0x0000, counting, {CommandComplete(0x0000, 1)}, "hci: unsupported command 0x0000 ? params " + dump},
        {0x0000,
         countingPlusOne,
         {CommandComplete(0x0000, 1)},
         "hci: unsupported command 0x0000 ? params " + dump + "... (49 bytes)"},
    };
    ControllerHarness h;
    for (const CommandCase& c : cases)
    {
        EXPECT_EQ(h.Command(c.opcode, c.parameters), c.events) << std::hex << c.opcode;
        if (!c.logged.empty())
        {
            EXPECT_EQ(h.LogLines().back(), c.logged) << std::hex << c.opcode;
        }
    }
}

TEST(Commands, AcceptedSettingsAnswerSuccessWithoutParameters)
{
    const std::uint16_t opcodes[] = {0x080F, 0x0C01, 0x0C05, 0x0C16, 0x0C18, 0x0C1A, 0x0C1C,
                                     0x0C1E, 0x0C24, 0x0C26, 0x0C33, 0x0C3A, 0x0C43, 0x0C45,
                                     0x0C47, 0x0C52, 0x0C56, 0x0C63, 0x0C6D, 0x0C7A, 0x2001,
                                     0x2006, 0x2008, 0x2009, 0x200A, 0x2010, 0x2011, 0x2012};
    ControllerHarness h;
    for (std::uint16_t opcode : opcodes)
        EXPECT_EQ(h.Command(opcode, {0x01, 0x02}), Events{CommandComplete(opcode, 0x00)})
            << std::hex << opcode;
}

TEST(Commands, SupportedCommandsBitmapIsExactlyTheAnsweredCommands)
{
    Bytes expected(64, 0x00);
    const std::pair<int, std::uint8_t> octets[] = {
        {0, 0x23},  {2, 0x98},  {5, 0xD8},  {6, 0x01},  {7, 0xEB},  {8, 0x0A},  {9, 0x0F},  {10, 0x40},
        {11, 0x1C}, {12, 0xA0}, {13, 0x02}, {14, 0xE8}, {15, 0x22}, {17, 0x42}, {18, 0x01}, {22, 0x04},
        {24, 0x60}, {25, 0xF7}, {26, 0xFF}, {27, 0xE7}, {28, 0x09}, {32, 0x08}};
    for (auto [octet, value] : octets)
        expected[octet] = value;
    ControllerHarness h;
    EXPECT_EQ(h.Command(0x1002), Events{CommandComplete(0x1002, 0x00, expected)});
}

TEST(Commands, EachIsRegisteredOnceAndKnownToTheCommandTable)
{
    std::set<std::uint16_t> seen;
    for (const CommandEntry& entry : Controller::CommandEntries())
    {
        EXPECT_TRUE(seen.insert(entry.opcode).second) << std::hex << entry.opcode << " shadowed";
        // Read Local Supported Commands (0x1002) has no bit of its own; unsupported ones need none.
        bool hasBit =
            entry.opcode == 0x1002 || entry.run == nullptr || Hci::FindCommand(entry.opcode) != nullptr;
        EXPECT_TRUE(hasBit) << std::hex << entry.opcode << " has no bitmap bit";
    }
}

TEST(Commands, LeRandAnswersEightFreshBytes)
{
    ControllerHarness h;
    auto first = h.Command(0x2018);
    ASSERT_EQ(first.size(), 1u);
    ASSERT_EQ(first[0].size(), 6u + 8);
    EXPECT_EQ(Bytes(first[0].begin(), first[0].begin() + 6), (Bytes{0x0E, 12, 0x01, 0x18, 0x20, 0x00}));
    EXPECT_NE(h.Command(0x2018), first);
}

TEST(Dispatch, PacketsAreTakenWithinTheirDeclaredLength)
{
    ControllerHarness h;
    EXPECT_TRUE(h.RawCommand({0x03, 0x0C}).empty()) << "shorter than a header";
    // LE Set Random Address declaring 5 bytes and carrying none: too short.
    EXPECT_EQ(h.RawCommand({0x05, 0x20, 0x05}), Events{CommandComplete(0x2005, 0x12)});
    h.RawCommand({0x13, 0x0C, 0x02, 'H', 'i', 'X', 'Y'}); // Write Local Name, declared 2
    EXPECT_EQ(h.Command(0x0C14), Events{CommandComplete(0x0C14, 0, Padded({'H', 'i'}, 248))});
}

TEST(Dispatch, FailingServicesAreLoggedAndAnswered0x03AndTheControllerGoesOn)
{
    ControllerServices services;
    services.random = [](std::span<std::uint8_t>) { throw std::runtime_error("BCryptGenRandom failed"); };
    services.encrypt = [](const Block&, const Block&) -> Block { throw 42; };
    ControllerHarness h(services);
    EXPECT_EQ(h.Command(0x2018), Events{CommandComplete(0x2018, 0x03)});
    EXPECT_EQ(h.LogLines().back(), "hci: command 0x2018 failed: BCryptGenRandom failed");
    EXPECT_EQ(h.Command(0x2017, Bytes(32)), Events{CommandComplete(0x2017, 0x03)});
    EXPECT_EQ(h.LogLines().back(), "hci: command 0x2017 failed: unknown error");
    EXPECT_EQ(h.Command(0x0C19), Events{CommandComplete(0x0C19, 0x00, {0x00})});
}

TEST(Dispatch, FailureAfterTheCommandWasAnsweredIsLoggedWithoutASecondAnswer)
{
    ControllerHarness h;
    auto link = h.Connect(0xA1B2C3D4E5F6);
    link->throwOnPush = true;
    EXPECT_EQ(h.Command(0x2019, {0x40, 0x00}),
              (Events{CommandStatus(0x2019, 0x00), Event(0x08, {0x00, 0x40, 0x00, 0x01})}));
    EXPECT_EQ(h.LogLines().back(), "hci: command 0x2019 failed: link queue refused");
    EXPECT_EQ(h.Command(0x0C19), Events{CommandComplete(0x0C19, 0x00, {0x00})});
}

} // namespace
