#include "bt/smp/SmpResponder.h"

#include "core/Log.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

using namespace Pd::Bt;

struct FakePairing : DevicePairing
{
    bool paired = false;
    Result<std::int32_t> result = 0;

    Result<bool> IsPaired() override { return paired; }
    Result<bool> CanPair() override { return true; }
    Result<std::int32_t> Pair() override { return result; }
};

const LinkAddresses Addresses{0xA1A2A3A4A5A6, true, 0xB1B2B3B4B5B6, false};
const Bytes Request = {0x01, 0x04, 0x00, 0x2D, 0x10, 0x0F, 0x0F};

struct SmpResponderTest : testing::Test
{
    FakePairing windows;
    std::vector<Bytes> sent;
    std::vector<std::string> log;
    SmpResponder smp{Addresses, windows, [this](Bytes pdu) { sent.push_back(std::move(pdu)); }};

    SmpResponderTest()
    {
        Pd::Core::SetLogSink([this](std::string_view line) { log.emplace_back(line); });
    }
    ~SmpResponderTest() override { Pd::Core::SetLogSink({}); }

    Bytes Send(const Bytes& pdu)
    {
        sent.clear();
        EXPECT_TRUE(smp.HandlePdu(pdu));
        return sent.empty() ? Bytes{} : sent.back();
    }

    // Android's confirm value for its random, over what was exchanged.
    static Bytes Confirm(const Bytes& request, const Bytes& response, const Block& random)
    {
        Block value = PairingConfirm(Block{}, random, std::span<const std::uint8_t, 7>(request.data(), 7),
                                     std::span<const std::uint8_t, 7>(response.data(), 7), 1,
                                     Addresses.localAddress, 0, Addresses.peerAddress);
        Bytes pdu{0x03};
        pdu.insert(pdu.end(), value.begin(), value.end());
        return pdu;
    }
};

TEST_F(SmpResponderTest, JustWorksPairingEndsInFreshKeysWhenAsked)
{
    for (std::uint8_t keys : {0x0F, 0x06})
    {
        Bytes request = Request;
        request[6] = keys;
        Bytes response = Send(request);
        EXPECT_EQ(response, (Bytes{0x02, 0x03, 0x00, 0x01, 0x10, 0x00, static_cast<std::uint8_t>(keys & 1)}));
        Block androidRandom{};
        androidRandom.fill(0x5A);
        Bytes ourConfirm = Send(Confirm(request, response, androidRandom));
        Bytes random{0x04};
        random.insert(random.end(), androidRandom.begin(), androidRandom.end());
        Bytes ourRandom = Send(random);
        ASSERT_EQ(ourRandom.size(), 17u);
        ASSERT_EQ(ourRandom[0], 0x04);
        Block local;
        std::copy(ourRandom.begin() + 1, ourRandom.end(), local.begin());
        EXPECT_EQ(ourConfirm, Confirm(request, response, local)); // our confirm was honest

        sent.clear();
        ASSERT_TRUE(smp.CompleteBonding());
        ASSERT_TRUE(smp.CompleteBonding()); // once only
        std::vector<std::pair<int, std::size_t>> keysSent;
        for (const Bytes& pdu : sent)
            keysSent.emplace_back(pdu[0], pdu.size());
        using Shape = std::vector<std::pair<int, std::size_t>>;
        EXPECT_EQ(keysSent, (keys == 0x06 ? Shape{} : Shape{{0x06, 17}, {0x07, 11}}));
        EXPECT_EQ(log.back().find("smp B1B2B3B4B5B6: bonded with Android") != std::string::npos,
                  keys == 0x0F);
    }
}

TEST_F(SmpResponderTest, FailuresEndThePairingWithoutKeys)
{
    // PDUs, and the answer to the last one.
    const std::pair<std::vector<Bytes>, Bytes> cases[] = {
        {{{0x03, 1}}, {0x05, 0x08}},                                 // confirm before any request
        {{Request}, {0x02, 0x03, 0x00, 0x01, 0x10, 0x00, 0x01}},     // keys asked, nothing proved
        {{Request, Bytes(17, 0x04)}, {0x05, 0x08}},                  // random before the confirm exchange
        {{Request, Bytes(17, 0x03), Bytes(17, 0x04)}, {0x05, 0x04}}, // confirm values differ
        {{Request, {0x05, 0x08}, Bytes(17, 0x03)}, {0x05, 0x08}},    // Android gave up
        {{Bytes(6, 0x01)}, {0x05, 0x0A}},                            // each one byte short
        {{Request, Bytes(16, 0x03)}, {0x05, 0x08}},
        {{Request, Bytes(17, 0x03), Bytes(16, 0x04)}, {0x05, 0x08}},
    };
    for (const auto& [pdus, answer] : cases)
    {
        SmpResponder fresh{Addresses, windows, [this](Bytes pdu) { sent.push_back(std::move(pdu)); }};
        for (const Bytes& pdu : pdus)
        {
            sent.clear();
            ASSERT_TRUE(fresh.HandlePdu(pdu));
        }
        EXPECT_EQ(sent, std::vector<Bytes>{answer});
        sent.clear();
        ASSERT_TRUE(fresh.CompleteBonding());
        EXPECT_TRUE(sent.empty());
    }
}

TEST_F(SmpResponderTest, WindowsPairsTheDeviceFirst)
{
    windows.paired = true;
    Send(Request);
    EXPECT_TRUE(log.empty()); // not even an attempt

    windows.paired = false;
    windows.result = 19; // refused by the handler
    EXPECT_EQ(Send(Request), (Bytes{0x05, 0x08}));
    windows.result = Fail("0x800704C7"); // cancelled
    EXPECT_EQ(Send(Request), (Bytes{0x05, 0x08}));
    ASSERT_EQ(log.size(), 4u);
    EXPECT_NE(log[0].find("smp B1B2B3B4B5B6: pairing in Windows"), std::string::npos);
    EXPECT_NE(log[1].find("smp B1B2B3B4B5B6: Windows pairing result 19"), std::string::npos);
    EXPECT_NE(log[3].find("smp B1B2B3B4B5B6: Windows pairing failed: 0x800704C7"), std::string::npos);
}

} // namespace
