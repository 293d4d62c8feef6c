// The MMS relay's request line, as Android's MMS app sends it and as a hostile guest might.
#include "tel/mms/MmsRequest.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

using Pd::Tel::MmsRequestLineReader;
using Pd::Tel::ParseMmsRequest;
using namespace std::string_literals;

TEST(ParseMmsRequest, ReadsTheFieldsAsAndroidWritesThem)
{
    struct Case
    {
        std::string line;
        std::int32_t authentication;
        std::string user;
        std::uint16_t port;
    };
    const Case cases[] = {
        {"MMS\tmms.carrier\t0\t\t\tmms.example\t80", 0, "", 80},
        {"MMS\tmms.carrier\t3\tjo\tpw\tmms.example\t65535\r", 3, "jo", 65535},
        {"MMS\tmms.carrier\tx\tjo\tpw\tmms.example\t8080", -1, "jo", 8080},
        {"MMS\tmms.carrier\t-2147483648\t\t\tmms.example\t1", -2147483647 - 1, "", 1},
        {"MMS\tmms.carrier\t2147483648\t\t\tmms.example\t1", -1, "", 1},
        {"MMS\tmms.carrier\t2x\t\t\tmms.example\t1", 2, "", 1},
    };
    for (const Case& c : cases)
    {
        auto request = ParseMmsRequest(c.line);
        ASSERT_TRUE(request) << c.line;
        EXPECT_EQ(request->apn, "mms.carrier");
        EXPECT_EQ(request->authentication, c.authentication) << c.line;
        EXPECT_EQ(request->user, c.user);
        EXPECT_EQ(request->host, "mms.example");
        EXPECT_EQ(request->port, c.port) << c.line;
    }
    EXPECT_EQ(ParseMmsRequest("MMS\ta\t1\tu\tp\x01\t10.0.0.1\t80")->password, "p\x01");
}

TEST(ParseMmsRequest, RefusesMalformedLinesAndControlCharactersInNames)
{
    const std::string refused[] = {
        "MMS\tmms.carrier\t0\t\t\tmms.example\t0",
        "MMS\tmms.carrier\t0\t\t\tmms.example\t65536",
        "MMS\tmms.carrier\t0\t\t\tmms.example\t",
        "MMS\tmms.carrier\t0\t\tmms.example\t80",
        "MMS\tmms.carrier\t0\t\t\tmms.example\t80\t",
        "MMX\tmms.carrier\t0\t\t\tmms.example\t80",
        "MMS\t\t0\t\t\tmms.example\t80",
        "MMS\tmms.carrier\t0\t\t\t\t80",
        "MMS\tmms\ncarrier\t0\t\t\tmms.example\t80",
        "MMS\tmms.carrier\t0\tj\x1bo\t\tmms.example\t80",
        "MMS\tmms.carrier\t0\t\t\tmms\x7f.example\t80",
        "MMS\tmms.carrier\t0\t\t\tmms\xc2\x85.example\t80",
        "MMS\tmms\0carrier\t0\t\t\tmms.example\t80"s,
        "MMS\tmms.carrier\t0\t\t\t" + std::string(2040, 'h') + "\t80",
    };
    for (const std::string& line : refused)
        EXPECT_FALSE(ParseMmsRequest(line)) << line;
}

TEST(MmsRequestLineReader, EndsAtTheLineFeedOrAtTheLimit)
{
    MmsRequestLineReader fits;
    for (int i = 0; i < 2047; ++i)
        ASSERT_EQ(fits.Add('a'), MmsRequestLineReader::State::Reading);
    EXPECT_EQ(fits.Add('\n'), MmsRequestLineReader::State::Complete);
    EXPECT_EQ(fits.Line().size(), 2047u);

    MmsRequestLineReader tooLong;
    for (int i = 0; i < 2047; ++i)
        tooLong.Add('a');
    EXPECT_EQ(tooLong.Add('a'), MmsRequestLineReader::State::TooLong);
    EXPECT_EQ(tooLong.Add('\n'), MmsRequestLineReader::State::TooLong);
}

} // namespace
