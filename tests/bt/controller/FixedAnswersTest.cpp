// Every answer of the handler map, the supported-commands bitmap, stored settings and Reset.
#include "ControllerHarness.h"

#include <gtest/gtest.h>

namespace
{

using namespace Pd::Bt;
using namespace Pd::Bt::Test;

struct FixedCase
{
    std::uint16_t opcode;
    Bytes answer;
};

TEST(FixedAnswers, EveryFixedCommandGivesItsReturnParameters)
{
    const FixedCase cases[] = {
        {0x080E, {0x05, 0x00}},
        {0x0C19, {0x00}},
        {0x0C23, {0x0C, 0x01, 0x0C}},
        {0x0C25, {0x60, 0x00}},
        {0x0C38, {0x01}},
        {0x0C39, {0x01, 0x33, 0x8B, 0x9E}},
        {0x0C58, {0x00}},
        {0x0C6C, {0x01, 0x00}},
        {0x1001, {0x08, 0x01, 0x00, 0x08, 0xFF, 0xFF, 0x01, 0x00}},
        {0x1003, {0xFF, 0xFF, 0x8F, 0x7E, 0xD8, 0x1F, 0x5B, 0x87}},
        {0x1005, {0xFD, 0x03, 0x40, 0x08, 0x00, 0x08, 0x00}},
        {0x1009, {0x42, 0xEE, 0xFF, 0xC0, 0x00, 0x00}},
        {0x2002, {0xFB, 0x00, 0x08}},
        {0x2003, {0x1F, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
        {0x2007, {0x00}},
        {0x200F, {0x10}},
        {0x201C, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x03, 0x00, 0x00}},
    };
    ControllerHarness h;
    for (const FixedCase& c : cases)
        EXPECT_EQ(h.Command(c.opcode), Events{CommandComplete(c.opcode, 0x00, c.answer)})
            << std::hex << c.opcode;
}

TEST(FixedAnswers, AcceptedSettingsAnswerSuccessWithoutParameters)
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

TEST(FixedAnswers, SupportedCommandsBitmapIsExactlyTheAnsweredCommands)
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

TEST(FixedAnswers, ExtendedFeaturesPerPage)
{
    ControllerHarness h;
    EXPECT_EQ(
        h.Command(0x1004, {0x00}),
        Events{CommandComplete(0x1004, 0, {0x00, 0x02, 0xFF, 0xFF, 0x8F, 0x7E, 0xD8, 0x1F, 0x5B, 0x87})});
    EXPECT_EQ(h.Command(0x1004, {0x01}),
              Events{CommandComplete(0x1004, 0, {0x01, 0x02, 0x0F, 0, 0, 0, 0, 0, 0, 0})});
    EXPECT_EQ(h.Command(0x1004, {0x02}),
              Events{CommandComplete(0x1004, 0, {0x02, 0x02, 0x00, 0x03, 0, 0, 0, 0, 0, 0})});
    EXPECT_EQ(h.Command(0x1004, {0x07}),
              Events{CommandComplete(0x1004, 0, {0x07, 0x02, 0, 0, 0, 0, 0, 0, 0, 0})});
}

Bytes ReadName(ControllerHarness& h)
{
    auto events = h.Command(0x0C14);
    EXPECT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].size(), 6u + 248);
    return Bytes(events[0].begin() + 6, events[0].end());
}

TEST(LocalName, StartsAsAndroidAndIsReadIn248Bytes)
{
    ControllerHarness h;
    Bytes expected(248, 0x00);
    std::copy_n("Android", 7, expected.begin());
    EXPECT_EQ(ReadName(h), expected);
}

TEST(LocalName, WriteStopsAtTheFirstZeroByte)
{
    ControllerHarness h;
    Bytes parameters = {'P', 'i', 'x', 'e', 'l', 0x00};
    parameters.resize(248, 'Z');
    EXPECT_EQ(h.Command(0x0C13, parameters), Events{CommandComplete(0x0C13, 0x00)});
    EXPECT_EQ(h.LogLines().back(), "hci: local name \"Pixel\"");
    Bytes expected(248, 0x00);
    std::copy_n("Pixel", 5, expected.begin());
    EXPECT_EQ(ReadName(h), expected);
}

TEST(LocalName, FullLengthNameIsReadBackWithItsLastByteCutForTheTerminator)
{
    ControllerHarness h;
    h.Command(0x0C13, Bytes(248, 'N'));
    Bytes expected(247, 'N');
    expected.push_back(0x00);
    EXPECT_EQ(ReadName(h), expected);
}

TEST(LocalName, EmptyWriteGivesAnEmptyNameAndControlBytesAreEscapedInTheLog)
{
    ControllerHarness h;
    h.Command(0x0C13, {'a', '\n', 'b'});
    EXPECT_EQ(h.LogLines().back(), "hci: local name \"a\\x0ab\"");
    h.Command(0x0C13);
    EXPECT_EQ(ReadName(h), Bytes(248, 0x00));
}

TEST(LeEncrypt, AnswersTheSampleCiphertextLeastSignificantByteFirst)
{
    ControllerHarness h;
    Bytes parameters = {0xBF, 0x01, 0xFB, 0x9D, 0x4E, 0xF3, 0xBC, 0x36, 0xD8, 0x74, 0xF5,
                        0x39, 0x41, 0x38, 0x68, 0x4C, 0x13, 0x02, 0xF1, 0xE0, 0xDF, 0xCE,
                        0xBD, 0xAC, 0x79, 0x68, 0x57, 0x46, 0x35, 0x24, 0x13, 0x02};
    Bytes ciphertext = {0x66, 0xC6, 0xC2, 0x27, 0x8E, 0x3B, 0x8E, 0x05,
                        0x3E, 0x7E, 0xA3, 0x26, 0x52, 0x1B, 0xAD, 0x99};
    EXPECT_EQ(h.Command(0x2017, parameters), Events{CommandComplete(0x2017, 0x00, ciphertext)});
}

TEST(LeRand, AnswersEightFreshBytes)
{
    ControllerHarness h;
    auto first = h.Command(0x2018);
    auto second = h.Command(0x2018);
    ASSERT_EQ(first.size(), 1u);
    ASSERT_EQ(first[0].size(), 6u + 8);
    EXPECT_EQ(Bytes(first[0].begin(), first[0].begin() + 6), (Bytes{0x0E, 12, 0x01, 0x18, 0x20, 0x00}));
    EXPECT_NE(first, second);
}

TEST(Reset, AnswersSuccessLogsAndKeepsTheLocalName)
{
    ControllerHarness h;
    h.Command(0x0C13, {'K', 'e', 'p', 't'});
    EXPECT_EQ(h.Command(0x0C03), Events{CommandComplete(0x0C03, 0x00)});
    EXPECT_EQ(h.LogLines().back(), "hci: reset");
    EXPECT_EQ(ReadName(h)[0], 'K');
}

} // namespace
