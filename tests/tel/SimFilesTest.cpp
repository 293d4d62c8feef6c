#include "tel/at/Modem.h"

#include "tests/tel/SmsDeliverReader.h"

#include <gtest/gtest.h>

#include <map>

namespace
{

using namespace Pd::Tel;
using Pd::Tel::Testing::FromHex;
using Pd::Tel::Testing::Octets;

// Tag -> value of the FCP template's data objects; empty when a length disagrees with the octets.
std::map<std::uint8_t, Octets> ReadFcp(const std::string& fcp)
{
    auto octets = FromHex(fcp).value_or(Octets{});
    if (octets.size() < 2 || octets[0] != 0x62 || octets[1] != octets.size() - 2)
        return {};
    std::map<std::uint8_t, Octets> objects;
    for (std::size_t at = 2; at < octets.size(); at += 2 + octets[at + 1])
    {
        if (octets.size() - at < 2 || octets.size() - at - 2 < octets[at + 1])
            return {};
        auto value = octets.begin() + static_cast<std::ptrdiff_t>(at + 2);
        objects[octets[at]] = Octets(value, value + octets[at + 1]);
    }
    return objects;
}

std::size_t BigEndian(const Octets& value)
{
    std::size_t number = 0;
    for (std::uint8_t octet : value)
        number = number << 8 | octet;
    return number;
}

const SimCard Card = Modem::PrepareSimFiles("89014103211118510720", 2);

// What a read of the file answers, body only; empty when the read fails.
std::string Body(std::int32_t command, std::uint32_t fileId, std::int32_t p1 = 0)
{
    std::string line = Modem::AnswerSimRead(Card, command, static_cast<std::int32_t>(fileId), p1);
    const std::string success = "+CRSM: 144,0,";
    return line.starts_with(success) ? line.substr(success.size()) : "";
}

TEST(SimFileTable, EveryFcpAnnouncesTheFileAsItIsAnswered)
{
    for (const SimFile& file : SimFiles())
    {
        SCOPED_TRACE(testing::Message() << std::hex << file.fileId);
        auto fcp = ReadFcp(file.fcp);
        ASSERT_FALSE(fcp.empty()) << "FCP lengths disagree";
        ASSERT_EQ(BigEndian(fcp[0x83]), file.fileId);
        const Octets& descriptor = fcp[0x82];
        std::size_t size = BigEndian(fcp[0x80]);
        if (file.kind == SimFileKind::Transparent)
        {
            EXPECT_EQ(descriptor, (Octets{0x41, 0x21}));
            EXPECT_EQ(Body(SimCommand::ReadBinary, file.fileId).size(), 2 * size);
            EXPECT_EQ(file.records, 0u);
            continue;
        }
        ASSERT_EQ(descriptor.size(), 5u);
        EXPECT_EQ(descriptor[0], 0x42);
        std::size_t recordLength = BigEndian(Octets(descriptor.begin() + 2, descriptor.begin() + 4));
        std::size_t records = descriptor[4];
        EXPECT_EQ(size, recordLength * records) << "file size is not its records times their length";
        EXPECT_EQ(file.records, records) << "READ RECORD accepts another count than the FCP gives";
        for (std::size_t record = 1; record <= records; ++record)
            EXPECT_EQ(Body(SimCommand::ReadRecord, file.fileId, static_cast<std::int32_t>(record)).size(),
                      2 * recordLength)
                << "record " << record;
    }
}

TEST(SimRead, AnswersEachCommandFromTheTable)
{
    const std::string unused28(56, 'F');
    struct Case
    {
        std::int32_t command, fileId, p1;
        std::string answer;
    };
    const Case cases[] = {
        {192, 0x6FC7, 0, "+CRSM: 144,0,621982054221001C0283026FC78A01058B036F0605800200388800"},
        {176, 0x2FE2, 0, "+CRSM: 144,0,98101430121181157002"},
        {176, 0x6FAD, 0, "+CRSM: 144,0,00000002"},
        {178, 0x2F00, 1,
         "+CRSM: 144,0,61184F10A0000003431002FF86FF0389FFFFFFFF50044353494D" + std::string(44, 'F')},
        {178, 0x2F00, 2,
         "+CRSM: 144,0,61184F10A0000000871002FF86FF0389FFFFFFFF50045553494D" + std::string(44, 'F')},
        {178, 0x2F00, 3, "+CRSM: 144,0," + std::string(96, 'F')},
        {178, 0x2F00, 5, "+CRSM: 106,131"},
        {178, 0x2F00, -1, "+CRSM: 106,131"},
        {178, 0x6F40, 2, "+CRSM: 144,0," + unused28},
        {178, 0x6F40, 3, "+CRSM: 106,131"},
        {176, 0x2F00, 1, "+CRSM: 106,130"},
        {178, 0x2FE2, 1, "+CRSM: 106,130"},
        {214, 0x6F07, 0, "+CRSM: 106,130"},
        {192, 0x10006FC7, 0, "+CRSM: 106,130"},
        {192, -0x6FC7, 0, "+CRSM: 106,130"},
        {220, 0x6F3B, 1, "+CRSM: 144,0"},
        {242, 0x6F3B, 1, "+CRSM: 106,130"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Modem::AnswerSimRead(Card, c.command, c.fileId, c.p1), c.answer)
            << c.command << " " << std::hex << c.fileId << " " << std::dec << c.p1;
}

TEST(SimRead, AdministrativeDataCarriesTheMncLength)
{
    EXPECT_EQ(Modem::AnswerSimRead(Modem::PrepareSimFiles("", 3), 176, 0x6FAD, 0), "+CRSM: 144,0,00000003");
    EXPECT_EQ(Modem::AnswerSimRead(Modem::PrepareSimFiles("", 6), 176, 0x6FAD, 0), "+CRSM: 144,0,00000002");
}

TEST(PrepareSimFiles, IccidBecomesSwappedSemiOctetsOfHexDigitsOnly)
{
    const std::pair<std::string, std::string> cases[] = {
        {"12345", "2143F5"},
        {"", ""},
        {"1", "F1"},
        {"8901abcdef", "9810BADCFE"},
        {"8901\r\nOK\r\n23", "981032"},                     // nothing but hex digits reaches the answer line
        {"8901410321111851072012", "98101430121181157002"}, // EF.ICCID holds 10 octets
    };
    for (const auto& [iccid, content] : cases)
        EXPECT_EQ(Modem::PrepareSimFiles(iccid, 2).iccidContent, content) << iccid;
}

} // namespace
