#include "tel/sms/MmsNoticePdu.h"

#include "tests/tel/SmsDeliverReader.h"

#include <gtest/gtest.h>

namespace
{

using namespace Pd::Tel;
using Pd::Tel::Testing::Octets;
using Pd::Tel::Testing::ReadSmsDeliver;

const SmsTime Time{2025, 3, 7, 14, 5, 9};

// The WSP push header of an MMS notification: 6 octets before the body.
constexpr std::size_t MmsPushHeader = 6;

Octets Body(std::size_t size)
{
    Octets body(size);
    for (std::size_t i = 0; i < size; ++i)
        body[i] = static_cast<std::uint8_t>(i * 7 + 1);
    return body;
}

TEST(MmsNoticePdu, SingleNotificationMatchesTheWorkedExample)
{
    const Octets body = {0x8C, 0x82};
    EXPECT_EQ(BuildMmsNoticePdu("+12345", Time, MmsContentType, body, 9),
              std::vector<std::string>{"004405912143F50004523070415090000F0605040B8423F0000603BEAF848C82"});
}

TEST(MmsNoticePdu, PushIsCutIntoPartsThatReassemble)
{
    struct Case
    {
        std::size_t pushLength;
        std::vector<std::size_t> slices;
    };
    const Case cases[] = {
        {MmsPushHeader, {6}}, {133, {133}},         {134, {128, 6}},
        {256, {128, 128}},    {257, {128, 128, 1}}, {255 * 128, std::vector<std::size_t>(255, 128)},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.pushLength);
        Octets body = Body(c.pushLength - MmsPushHeader);
        auto parts = BuildMmsNoticePdu("+4917012345", Time, MmsContentType, body, 0xA5);
        ASSERT_EQ(parts.size(), c.slices.size());
        Octets reassembled;
        for (std::size_t i = 0; i < parts.size(); ++i)
        {
            auto read = ReadSmsDeliver(parts[i]);
            ASSERT_TRUE(read.pdu) << "part " << i << ": " << read.error;
            EXPECT_EQ(read.pdu->firstOctet, 0x44);
            EXPECT_EQ(read.pdu->destinationPort, 2948);
            EXPECT_EQ(read.pdu->originPort, 9200);
            EXPECT_EQ(read.pdu->timestamp, (Octets{0x52, 0x30, 0x70, 0x41, 0x50, 0x90, 0x00}));
            EXPECT_EQ(read.pdu->data.size(), c.slices[i]);
            if (parts.size() == 1)
                EXPECT_FALSE(read.pdu->concatenation);
            else
            {
                ASSERT_TRUE(read.pdu->concatenation);
                EXPECT_EQ(read.pdu->concatenation->reference, 0xA5);
                EXPECT_EQ(read.pdu->concatenation->total, parts.size());
                EXPECT_EQ(read.pdu->concatenation->sequence, i + 1);
            }
            reassembled.insert(reassembled.end(), read.pdu->data.begin(), read.pdu->data.end());
        }
        EXPECT_EQ(reassembled, BuildWspPush(MmsContentType, body));
    }
}

TEST(MmsNoticePdu, PushNeedingMoreThan255PartsGivesNone)
{
    Octets body = Body(255 * 128 + 1 - MmsPushHeader);
    EXPECT_TRUE(BuildMmsNoticePdu("+1", Time, MmsContentType, body, 0).empty());
    EXPECT_TRUE(BuildMmsNoticePdu("+1", Time, MmsContentType, Body(1'000'000), 0).empty());
}

TEST(WspPush, ContentTypeIsTheShortFormOnlyForTheMmsType)
{
    const Octets body = {0x8C, 0x82};
    auto textForm = [&](std::string_view type, Octets length) {
        Octets pdu = {0x00, 0x06};
        pdu.insert(pdu.end(), length.begin(), length.end());
        pdu.insert(pdu.end(), type.begin(), type.end());
        pdu.push_back(0x00);
        pdu.insert(pdu.end(), body.begin(), body.end());
        return pdu;
    };
    EXPECT_EQ(BuildWspPush(MmsContentType, body), (Octets{0x00, 0x06, 0x03, 0xBE, 0xAF, 0x84, 0x8C, 0x82}));
    EXPECT_EQ(BuildWspPush("application/vnd.wap.mms-messagf", body),
              textForm("application/vnd.wap.mms-messagf", {32}));
    EXPECT_EQ(BuildWspPush("text/plain", body), textForm("text/plain", {11}));
    EXPECT_EQ(BuildWspPush("", body), textForm("", {1}));
    // 127 header octets fit one length octet; 128 and more take a multi-octet uintvar.
    EXPECT_EQ(BuildWspPush(std::string(126, 'x'), body), textForm(std::string(126, 'x'), {0x7F}));
    EXPECT_EQ(BuildWspPush(std::string(127, 'x'), body), textForm(std::string(127, 'x'), {0x81, 0x00}));
    EXPECT_EQ(BuildWspPush(std::string(300, 'x'), body), textForm(std::string(300, 'x'), {0x82, 0x2D}));
    // Whatever follows a zero octet in the given type would read as further headers.
    using namespace std::string_view_literals;
    EXPECT_EQ(BuildWspPush("text/plain\0\xAF\x84"sv, body), textForm("text/plain", {11}));
}

TEST(MmsNoticePdu, AcceptsASystemTime)
{
    struct FakeSystemTime
    {
        std::uint16_t wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds;
    } systemTime{2025, 3, 5, 7, 14, 5, 9, 0};
    const Octets body = {0x8C, 0x82};
    EXPECT_EQ(BuildMmsNoticePdu("+12345", systemTime, MmsContentType, body, 0),
              BuildMmsNoticePdu("+12345", Time, MmsContentType, body, 0));
}

} // namespace
