// What the modem command reads from a stored PDU: time stamp, kind and concatenation, and PDUs
// that end early.
#include "cli/ModemCommand.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

// No service centre, a DELIVER from "+12345" with the time stamp 2024-03-12 10:45:36, then the
// user-data length and user data given.
std::string Deliver(const std::string& firstOctet, const std::string& userData)
{
    return "00" + firstOctet +
           "05912143F5"
           "0004"
           "42302101546300" +
           userData;
}

TEST(DescribeSmsPdu, ReadsTimeStampKindAndPart)
{
    struct Case
    {
        std::string pdu;
        std::string timestamp, kind;
    } cases[] = {
        {Deliver("04", "03010203"), "2024-03-12 10:45:36", "text"},
        {Deliver("44", "0B0605040B8423F0AABBCC"), "2024-03-12 10:45:36", "MMS notice"},
        {Deliver("44", "0B0B000312030205040B8423F0"), "2024-03-12 10:45:36", "MMS notice part 2/3"},
        {Deliver("44", "0B0500031203020102"), "2024-03-12 10:45:36", "text part 2/3"},
        {Deliver("44", "0B06080400120302"), "2024-03-12 10:45:36", "text part 2/3"},
        {Deliver("44", "0B0404021F4A"), "2024-03-12 10:45:36", "port 31"},
        {Deliver("44", "0B0C05040B8423F0050400501234"), "2024-03-12 10:45:36", "port 80"},
        {Deliver("44", "0B01"), "2024-03-12 10:45:36", "text"}, // too short a header to walk
        {Deliver("04", "00"), "2024-03-12 10:45:36", "text"},
        {"0001000B911346610089F6000004C8F71D14", "", ""}, // a SUBMIT
        {Deliver("04", ""), "", ""},                      // ends before the user-data length
        {"07911326040000F0", "", ""},                     // ends before the first octet
        {"", "", ""},
        {"zz" + Deliver("04", "00").substr(2), "2024-03-12 10:45:36", "text"}, // non-digits read as 0
    };
    for (const Case& c : cases)
    {
        Pd::Cli::PduSummary summary = Pd::Cli::DescribeSmsPdu(c.pdu);
        EXPECT_EQ(summary.timestamp, c.timestamp) << c.pdu;
        EXPECT_EQ(summary.kind, c.kind) << c.pdu;
    }
}

// Every cut of a PDU whose header claims more than there is: nothing is read past its end, and a
// cut before the user-data length gives nothing.
TEST(DescribeSmsPdu, PdusCutAnywhereAreReadOnlyAsFarAsTheyGo)
{
    const std::string full = Deliver("44", "FF0BFF05FF");
    for (std::size_t length = 0; length <= full.size(); ++length)
    {
        Pd::Cli::PduSummary summary = Pd::Cli::DescribeSmsPdu(full.substr(0, length));
        EXPECT_EQ(summary.timestamp.empty(), length < 34) << length;
    }
}

} // namespace
