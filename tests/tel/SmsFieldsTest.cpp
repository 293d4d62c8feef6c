#include "tel/sms/SmsFields.h"
#include "tel/sms/MmsNoticePdu.h"

#include "tests/tel/SmsDeliverReader.h"

#include <gtest/gtest.h>

namespace
{

using namespace Pd::Tel;
using Pd::Tel::Testing::ReadSmsDeliver;

const SmsTime AnyTime{2025, 3, 7, 14, 5, 9};

TEST(EncodeOriginator, GivesTheSpecifiedBytes)
{
    const std::pair<std::string, std::string> cases[] = {
        {"+12345", "05912143F5"},
        {"12345", "05812143F5"},
        {"+1234", "04912143"},
        {"MMS", "06D0CDE614"},
        {"Hello!", "0BD0C8329BFDFE01"}, // "Hello?": '!' is not among the characters kept
        {"", "06D0CDE614"},
        {"+", "02D03F"},
    };
    for (const auto& [originator, field] : cases)
        EXPECT_EQ(EncodeOriginator(originator), field) << originator;
}

// Every originator must read back from a whole PDU: a length octet that counts the wrong unit, or
// a packing with a stray octet, shifts every later field and the PDU no longer reads.
TEST(EncodeOriginator, ReadsBackFromThePduAsAPhoneReadsIt)
{
    struct Case
    {
        std::string originator;
        std::uint8_t type;
        std::string readBack;
    };
    const Case cases[] = {
        {"+12345678901234567890", 0x91, "12345678901234567890"},
        {"12345678901234567890", 0x81, "12345678901234567890"},
        {"123456789012345678901", 0xD0, "12345678901"},
        {"+1 555", 0xD0, "?1 555"},
        {"ABCDEFG", 0xD0, "ABCDEFG"},
        {"ABCDEFGH", 0xD0, "ABCDEFGH"}, // 56 bits: no partly filled last octet
        {"Provider 16", 0xD0, "Provider 16"},
        {"Caf\xC3\xA9 Bar", 0xD0, "Caf?? Bar"}, // each octet of a multi-octet character
        {"a@b$c_d~e\x7F", 0xD0, "a?b?c?d?e?"},
    };
    const std::uint8_t body[] = {0x8C, 0x82};
    for (const Case& c : cases)
    {
        auto parts = BuildMmsNoticePdu(c.originator, AnyTime, MmsContentType, body, 0);
        ASSERT_EQ(parts.size(), 1u);
        auto read = ReadSmsDeliver(parts[0]);
        ASSERT_TRUE(read.pdu) << c.originator << ": " << read.error;
        EXPECT_EQ(read.pdu->addressType, c.type) << c.originator;
        EXPECT_EQ(read.pdu->originator, c.readBack);
        EXPECT_EQ(read.pdu->data, (Testing::Octets{0x00, 0x06, 0x03, 0xBE, 0xAF, 0x84, 0x8C, 0x82}));
    }
}

struct FakeSystemTime
{
    std::uint16_t wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds;
};

TEST(EncodeTimestamp, WritesSwappedDecimalDigitsAndZone0)
{
    const std::pair<SmsTime, std::string> cases[] = {
        {{2025, 3, 7, 14, 5, 9}, "52307041509000"},
        {{1999, 12, 31, 23, 59, 59}, "99211332959500"},
        {{2000, 1, 1, 0, 0, 0}, "00101000000000"},
        {{2025, 3, 7, 123, 250, 99}, "52307032059900"}, // a garbled clock still gives digits
    };
    for (const auto& [time, field] : cases)
        EXPECT_EQ(EncodeTimestamp(time), field) << time.year;
    EXPECT_EQ(EncodeTimestamp(FakeSystemTime{2025, 3, 5, 7, 14, 5, 9, 999}), "52307041509000");
}

} // namespace
