#include "tel/sms/MmsNoticePdu.h"

#include "tests/tel/SmsDeliverReader.h"

#include <gtest/gtest.h>

namespace
{

using namespace Pd::Tel;
using Pd::Tel::Testing::Octets;
using Pd::Tel::Testing::ReadSmsDeliver;

const SmsTime Time{2025, 3, 7, 14, 5, 9};
const Octets Notice = {0x8C, 0x82};
const Octets PortHeader = {0x05, 0x04, 0x0B, 0x84, 0x23, 0xF0};
constexpr std::size_t MmsPushHeader = 6; // WSP push octets before the body

struct FakeSystemTime
{
    std::uint16_t wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds;
};

TEST(MmsNoticePdu, SingleNotificationMatchesTheWorkedExample)
{
    EXPECT_EQ(
        BuildMmsNoticePdu("+12345", FakeSystemTime{2025, 3, 5, 7, 14, 5, 9, 0}, MmsContentType, Notice, 9),
        std::vector<std::string>{"004405912143F50004523070415090000F0605040B8423F0000603BEAF848C82"});
}

TEST(EncodeOriginator, GivesTheSpecifiedBytes)
{
    const std::pair<std::string, std::string> cases[] = {
        {"+12345", "05912143F5"},       {"12345", "05812143F5"}, {"+1234", "04912143"},
        {"MMS", "06D0CDE614"},          {"", "06D0CDE614"},      {"+", "02D03F"},
        {"Hello!", "0BD0C8329BFDFE01"}, // as "Hello?"
    };
    for (const auto& [originator, field] : cases)
        EXPECT_EQ(EncodeOriginator(originator), field) << originator;
}

// A length octet that counts the wrong unit, or a packing with a stray octet, shifts every later
// field: the PDU then no longer reads back.
TEST(EncodeOriginator, ReadsBackFromThePduAsAPhoneReadsIt)
{
    const std::tuple<std::string, std::uint8_t, std::string> cases[] = {
        {"+12345678901234567890", 0x91, "12345678901234567890"},
        {"12345678901234567890", 0x81, "12345678901234567890"},
        {"123456789012345678901", 0xD0, "12345678901"},
        {"+1 555", 0xD0, "?1 555"},
        {"ABCDEFGH", 0xD0, "ABCDEFGH"}, // 56 bits: no partly filled last octet
        {"Caf\xC3\xA9 Bar", 0xD0, "Caf?? Bar"},
        {"a@b$c_d~e\x7F", 0xD0, "a?b?c?d?e?"},
    };
    for (const auto& [originator, type, readBack] : cases)
    {
        auto parts = BuildMmsNoticePdu(originator, Time, MmsContentType, Notice, 0);
        auto pdu = parts.size() == 1 ? ReadSmsDeliver(parts[0]) : std::nullopt;
        ASSERT_TRUE(pdu) << originator;
        EXPECT_EQ(pdu->addressType, type);
        EXPECT_EQ(pdu->originator, readBack);
        EXPECT_EQ(pdu->data, (Octets{0x00, 0x06, 0x03, 0xBE, 0xAF, 0x84, 0x8C, 0x82}));
    }
}

TEST(EncodeTimestamp, WritesSwappedDecimalDigitsAndZone0)
{
    EXPECT_EQ(EncodeTimestamp(SmsTime{1999, 12, 31, 23, 59, 59}), "99211332959500");
    // A garbled clock still gives decimal digits rather than a wrapped octet.
    EXPECT_EQ(EncodeTimestamp(SmsTime{2025, 3, 7, 123, 250, 99}), "52307032059900");
}

TEST(MmsNoticePdu, PushIsCutIntoPartsThatReassemble)
{
    const std::pair<std::size_t, std::vector<std::size_t>> cases[] = {
        {133, {133}},
        {134, {128, 6}},
        {257, {128, 128, 1}},
        {255 * 128, std::vector<std::size_t>(255, 128)},
    };
    for (const auto& [pushLength, slices] : cases)
    {
        Octets body(pushLength - MmsPushHeader);
        for (std::size_t i = 0; i < body.size(); ++i)
            body[i] = static_cast<std::uint8_t>(i * 7 + 1);
        auto parts = BuildMmsNoticePdu("+4917012345", Time, MmsContentType, body, 0xA5);
        ASSERT_EQ(parts.size(), slices.size()) << pushLength;
        Octets reassembled;
        for (std::size_t i = 0; i < parts.size(); ++i)
        {
            auto pdu = ReadSmsDeliver(parts[i]);
            ASSERT_TRUE(pdu) << pushLength << " part " << i;
            Octets header = PortHeader;
            if (parts.size() > 1)
                header.insert(header.end(), {0x00, 0x03, 0xA5, static_cast<std::uint8_t>(parts.size()),
                                             static_cast<std::uint8_t>(i + 1)});
            EXPECT_EQ(pdu->header, header);
            EXPECT_EQ(pdu->timestamp, (Octets{0x52, 0x30, 0x70, 0x41, 0x50, 0x90, 0x00}));
            EXPECT_EQ(pdu->data.size(), slices[i]);
            reassembled.insert(reassembled.end(), pdu->data.begin(), pdu->data.end());
        }
        EXPECT_EQ(reassembled, BuildWspPush(MmsContentType, body));
    }
    EXPECT_TRUE(
        BuildMmsNoticePdu("+1", Time, MmsContentType, Octets(255 * 128 + 1 - MmsPushHeader), 0).empty());
}

TEST(WspPush, ContentTypeIsTheShortFormOnlyForTheMmsType)
{
    auto textForm = [&](std::string_view type, Octets length) {
        Octets pdu = {0x00, 0x06};
        pdu.insert(pdu.end(), length.begin(), length.end());
        pdu.insert(pdu.end(), type.begin(), type.end());
        pdu.push_back(0x00);
        pdu.insert(pdu.end(), Notice.begin(), Notice.end());
        return pdu;
    };
    const std::string same = "application/vnd.wap.mms-messagf";
    EXPECT_EQ(BuildWspPush(same, Notice), textForm(same, {32}));
    EXPECT_EQ(BuildWspPush("", Notice), textForm("", {1}));
    // The headers length is a uintvar: 127 fits one octet, 128 and more take several.
    EXPECT_EQ(BuildWspPush(std::string(126, 'x'), Notice), textForm(std::string(126, 'x'), {0x7F}));
    EXPECT_EQ(BuildWspPush(std::string(127, 'x'), Notice), textForm(std::string(127, 'x'), {0x81, 0x00}));
    EXPECT_EQ(BuildWspPush(std::string(300, 'x'), Notice), textForm(std::string(300, 'x'), {0x82, 0x2D}));
    // Whatever follows a zero octet in the given type would read as further headers.
    using namespace std::string_view_literals;
    EXPECT_EQ(BuildWspPush("text/plain\0\xAF\x84"sv, Notice), textForm("text/plain", {11}));
}

} // namespace
