#include "tel/at/AtSession.h"

#include "core/Log.h"
#include "tests/tel/MemoryModem.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <numeric>
#include <thread>

namespace
{

using namespace Pd::Tel;

// One connection whose every text to Android lands in wire; its log lines in log.
struct Connection
{
    Testing::MemoryModem modem;
    std::string wire, log;
    AtSession session{modem, [this](std::string_view text) { wire += text; }};

    Connection()
    {
        modem.onMessage = [this](const std::string& pdu, std::uint32_t id) {
            session.ForwardMessage(pdu, id);
        };
        Pd::Core::SetLogSink([this](std::string_view line) { log += std::string(line) + "\n"; });
    }
    ~Connection() { Pd::Core::SetLogSink({}); }

    // Feeds the stream cut before each given position; what went out.
    std::string Feed(std::string_view stream, std::vector<std::size_t> cuts = {})
    {
        cuts.push_back(stream.size());
        for (std::size_t at = 0, i = 0; i < cuts.size(); at = cuts[i++])
            session.Receive(stream.substr(at, cuts[i] - at));
        return std::exchange(wire, {});
    }
};

TEST(AtSession, LinesPromptsAndPdusComeOutTheSameHoweverTheStreamIsCut)
{
    const std::string stream =
        "ATE0\r\nAT+CPIN?\rAT+CMGS=25\r0011000B91\r\n1346610089F60000AA0CC8F71D14969741F977FD07\x1A"
        "AT\r\nAT+CMGS=5\r0011\x1B";
    const std::string expected = "\r\nOK\r\n\r\n+CPIN: READY\r\n\r\nOK\r\n\r\n> \r\n+CMGS: 0\r\n\r\nOK\r\n"
                                 "\r\nOK\r\n\r\n> \r\nOK\r\n";
    std::vector<std::size_t> everyByte;
    for (std::size_t split = 0; split < stream.size(); ++split)
    {
        for (auto cuts : {std::vector<std::size_t>{split}, everyByte})
        {
            Connection c;
            EXPECT_EQ(c.Feed(stream, cuts), expected) << "cut at " << split << " or before every byte";
            EXPECT_EQ(c.modem.sent,
                      (decltype(c.modem.sent){{"0011000B911346610089F60000AA0CC8F71D14969741F977FD07", 25}}))
                << "cancelled PDU is not sent";
        }
        everyByte.push_back(split + 1);
    }
}

TEST(AtSession, ChangesArriveUnsolicitedAndWaitingMessagesFollowCnmi)
{
    Connection c;
    c.modem.state.registration = 2;
    c.Feed("AT+CREG=2\rAT+CGREG=1\r");
    c.session.SendRegistrationNotices();
    EXPECT_TRUE(c.Feed("").starts_with("\r\n+CREG: 2\r\n\r\n+CGREG: 2\r\n\r\n+CSQ: 20,"))
        << "the first change event";
    c.modem.state.registration = 1;
    c.session.SendRegistrationNotices();
    EXPECT_EQ(c.Feed(""), "\r\n+CREG: 1,\"0001\",\"00000001\",7\r\n\r\n+CGREG: 1\r\n") << "only what changed";
    c.session.SendRegistrationNotices();
    EXPECT_EQ(c.Feed(""), "");

    c.modem.stored = {{Testing::TextSmsPdu, 4}};
    const std::string cmt = "\r\n+CMT: ,30\r\n\r\n" + Testing::TextSmsPdu + "\r\n";
    EXPECT_EQ(c.Feed("AT+CSCA=\"+CNMI=1\",145\r"), "\r\nOK\r\n") << "a quoted +CNMI= asks for nothing";
    EXPECT_EQ(c.Feed("AT+CNMI=?;+CIMI=?\r"), "\r\nOK\r\n") << "nor do their test forms";
    EXPECT_EQ(c.Feed("ATE0;+cnmi=2,2,0,1,0\r"), "\r\nOK\r\n" + cmt);
    c.Feed("AT+CNMA=2\rAT+CIMI\rAT+CNMA\r");
    EXPECT_EQ(c.modem.nacked, std::vector<std::uint32_t>{4});
    EXPECT_EQ(c.modem.deleted, std::vector<std::uint32_t>{4});
    EXPECT_TRUE(c.log.contains("modem: RIL first sent AT+CREG\n"));
}

TEST(AtSession, OverlongLinesAndPdusAreRefusedHoweverTheyArriveAndTheConnectionStays)
{
    const std::size_t longest = AtSession::MaxLine;
    const struct
    {
        std::string stream, answers;
    } cases[] = {
        {"AT" + std::string(longest - 2, 'E') + "\r", "\r\nOK\r\n"},
        {"AT" + std::string(longest - 1, 'E') + "\r", "\r\nERROR\r\n"},
        {"AT+CMGS=25\r" + std::string(longest + 1, '0') + "\x1A", "\r\n> \r\n+CMS ERROR: 304\r\n"},
        {"AT+CMGS=25\r" + std::string(longest + 1, '0') + "\x1B", "\r\n> \r\nOK\r\n"},
    };
    for (const auto& c : cases)
    {
        std::vector<std::size_t> everyByte(c.stream.size() - 1);
        std::iota(everyByte.begin(), everyByte.end(), 1);
        for (const auto& cuts : {std::vector<std::size_t>{}, everyByte})
        {
            Connection connection;
            EXPECT_EQ(connection.Feed(c.stream + "AT\r", cuts), c.answers + "\r\nOK\r\n")
                << c.stream.substr(0, 12) << (cuts.empty() ? " whole" : " byte by byte");
            EXPECT_TRUE(connection.modem.sent.empty());
            EXPECT_EQ(connection.log.find("longer than 4096 bytes - refused") != std::string::npos,
                      c.answers.find("ERROR") != std::string::npos);
        }
    }
}

TEST(AtSession, AcknowledgementsDeleteTheMessagesInTheOrderAndroidSawThem)
{
    Connection c;
    auto forward = [&](std::uint32_t first) {
        for (std::uint32_t id = first; id < first + 300; ++id)
            c.session.ForwardMessage(fmt::format("00{:08X}", id), id);
    };
    {
        std::jthread one(forward, 0), two(forward, 1000);
    }
    std::vector<std::uint32_t> seen;
    for (auto at = c.wire.find("\n00"); at != std::string::npos; at = c.wire.find("\n00", at + 1))
        seen.push_back(static_cast<std::uint32_t>(std::stoul(c.wire.substr(at + 3, 8), nullptr, 16)));
    ASSERT_EQ(seen.size(), 600u);
    std::string acks;
    for (std::size_t i = 0; i < seen.size(); ++i)
        acks += "AT+CNMA\r";
    c.Feed(acks);
    EXPECT_EQ(c.modem.deleted, seen);
}

} // namespace
