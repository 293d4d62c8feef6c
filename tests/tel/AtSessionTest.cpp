#include "tel/at/AtSession.h"

#include "core/Log.h"
#include "tests/tel/MemoryModem.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

namespace
{

using namespace Pd::Tel;
using Pd::Tel::Testing::MemoryModem;
using Pd::Tel::Testing::TextSmsPdu;

// One connection whose every text sent to Android lands in wire.
struct Connection
{
    MemoryModem modem;
    std::string wire;
    AtSession session{modem, [this](std::string_view text) { wire += text; }};

    Connection()
    {
        modem.onMessage = [this](const std::string& pdu, std::uint32_t id) {
            session.ForwardMessage(pdu, id);
        };
    }

    // Feeds the stream cut at the given positions; what went out since.
    std::string Feed(std::string_view stream, std::vector<std::size_t> cuts = {})
    {
        wire.clear();
        cuts.push_back(stream.size());
        std::size_t at = 0;
        for (std::size_t cut : cuts)
        {
            EXPECT_TRUE(session.Receive(stream.substr(at, cut - at)));
            at = cut;
        }
        return std::exchange(wire, {});
    }
};

// Keeps log lines for the test to look at, and off standard output.
struct LogLines
{
    std::vector<std::string> lines;
    LogLines()
    {
        Pd::Core::SetLogSink([this](std::string_view line) { lines.emplace_back(line); });
    }
    ~LogLines() { Pd::Core::SetLogSink({}); }
    bool Has(std::string_view text) const
    {
        return std::ranges::any_of(lines, [&](const std::string& line) { return line.contains(text); });
    }
};

TEST(AtSession, LinesPromptsAndPdusComeOutTheSameHoweverTheStreamIsCut)
{
    LogLines log;
    const std::string stream = "ATE0\r\nAT+CSQ\rAT+CPIN?\rAT+CMGS=23\r0011000B\r\n00\x1A"
                               "AT\r\nAT+CMGS=5\r0011\x1B";
    const std::string expected =
        "\r\nOK\r\n"
        "\r\n+CSQ: 20,99,-1,-1,-1,-1,-1,20,100,2147483647,2147483647,2147483647,2147483647,2147483647,20,99,"
        "2147483647,2147483647,2147483647,2147483647,2147483647,2147483647\r\n\r\nOK\r\n"
        "\r\n+CPIN: READY\r\n\r\nOK\r\n"
        "\r\n> \r\n+CMGS: 0\r\n\r\nOK\r\n"
        "\r\nOK\r\n"
        "\r\n> \r\nOK\r\n";
    auto check = [&](std::vector<std::size_t> cuts, const std::string& how) {
        Connection c;
        EXPECT_EQ(c.Feed(stream, cuts), expected) << how;
        ASSERT_EQ(c.modem.sent.size(), 1u) << how << ": the cancelled PDU is not sent";
        EXPECT_EQ(c.modem.sent[0], (std::pair<std::string, std::uint8_t>{"0011000B00", 23})) << how;
    };
    check({}, "whole");
    std::vector<std::size_t> everyByte;
    for (std::size_t split = 1; split < stream.size(); ++split)
    {
        check({split}, fmt::format("split at {}", split));
        everyByte.push_back(split);
    }
    check(everyByte, "byte by byte");
    EXPECT_TRUE(log.Has("modem: RIL first sent ATE"));
}

TEST(AtSession, RegistrationAndSignalChangesArriveUnsolicited)
{
    Connection c;
    c.modem.state.registration = 2;
    c.modem.state.signal = 10;
    c.Feed("AT+CREG=2\rAT+CGREG=1\r");
    c.session.SendRegistrationNotices();
    EXPECT_TRUE(c.wire.starts_with("\r\n+CREG: 2\r\n\r\n+CGREG: 2\r\n\r\n+CSQ: 10,99,")) << c.wire;
    c.wire.clear();
    c.modem.state.registration = 1;
    c.session.SendRegistrationNotices();
    EXPECT_EQ(c.wire, "\r\n+CREG: 1,\"0001\",\"00000001\",7\r\n\r\n+CGREG: 1\r\n");
    c.wire.clear();
    c.session.SendRegistrationNotices();
    EXPECT_EQ(c.wire, "") << "nothing changed";
    c.modem.state.signal = 31;
    c.session.SendRegistrationNotices();
    EXPECT_TRUE(c.wire.starts_with("\r\n+CSQ: 31,99,") && c.wire.find("CREG") == std::string::npos) << c.wire;
}

TEST(AtSession, WaitingMessagesFollowTheAnswerToCnmiOrUpperCaseCimi)
{
    Connection c;
    c.modem.stored = {{TextSmsPdu, 4}};
    const std::string cmt = "\r\n+CMT: ,30\r\n\r\n" + TextSmsPdu + "\r\n";
    EXPECT_EQ(c.Feed("at+cimi\r"), "\r\n310410123456789\r\n\r\nOK\r\n");
    EXPECT_EQ(c.Feed("AT+CNMI=2,2,0,1,0\r"), "\r\nOK\r\n" + cmt);
    EXPECT_EQ(c.Feed("AT+CIMI\r"), "\r\n310410123456789\r\n\r\nOK\r\n" + cmt);
    c.Feed("AT+CNMA\rAT+CNMA=2\r");
    EXPECT_EQ(c.modem.deleted, std::vector<std::uint32_t>{4});
    EXPECT_EQ(c.modem.nacked, std::vector<std::uint32_t>{4});
}

TEST(AtSession, PeerThatNeverEndsItsLineOrPduIsCutOff)
{
    LogLines log;
    for (const std::string start : {"", "AT+CMGS=5\r"})
    {
        Connection c;
        EXPECT_TRUE(c.session.Receive(start));
        bool kept = true;
        std::size_t fed = 0;
        while (kept && fed < 10 * AtSession::MaxPending)
        {
            kept = c.session.Receive(std::string(1024, '0'));
            fed += 1024;
        }
        EXPECT_FALSE(kept) << start;
        EXPECT_LE(fed, AtSession::MaxPending + 1024) << start;
        EXPECT_FALSE(c.session.Receive("\r\x1A")) << "a cut-off connection stays cut off";
    }
    EXPECT_TRUE(log.Has("without ending its line - closing the connection"));
    EXPECT_TRUE(log.Has("without ending its PDU - closing the connection"));

    Connection busy;
    std::string lines;
    for (int i = 0; i < 1000; ++i)
        lines += "AT\r";
    for (std::size_t at = 0; at < lines.size(); at += 1024)
        EXPECT_TRUE(busy.session.Receive(std::string_view(lines).substr(at, 1024)))
            << "complete lines never count";
}

TEST(AtSession, AcknowledgementsDeleteTheMessagesInTheOrderAndroidSawThem)
{
    LogLines log;
    Connection c;
    constexpr std::uint32_t PerThread = 300;
    auto forward = [&](std::uint32_t first) {
        for (std::uint32_t id = first; id < first + PerThread; ++id)
            c.session.ForwardMessage(fmt::format("00{:08X}", id), id);
    };
    std::jthread one(forward, 0), two(forward, 1000);
    one.join();
    two.join();

    std::vector<std::uint32_t> seen;
    for (std::size_t at = c.wire.find("+CMT: ,4\r\n\r\n00"); at != std::string::npos;
         at = c.wire.find("+CMT: ,4\r\n\r\n00", at + 1))
        seen.push_back(static_cast<std::uint32_t>(std::stoul(c.wire.substr(at + 15, 8), nullptr, 16)));
    ASSERT_EQ(seen.size(), 2 * PerThread);
    std::string acks;
    for (std::size_t i = 0; i < seen.size(); ++i)
        acks += "AT+CNMA\r";
    c.Feed(acks);
    EXPECT_EQ(c.modem.deleted, seen);
}

} // namespace
