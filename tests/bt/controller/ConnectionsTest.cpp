// LE connection attempts, the link table, disconnection, commands on a connection, ACL data and
// the inquiry.
#include "ControllerHarness.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

namespace
{

using namespace Pd::Bt;
using namespace Pd::Bt::Test;
using namespace std::chrono_literals;

constexpr std::uint64_t Peer = 0xA1B2C3D4E5F6;

Bytes ConnectionComplete(std::uint8_t status, std::uint16_t handle)
{
    bool ok = status == 0;
    return LeMeta(0x01,
                  {status, static_cast<std::uint8_t>(handle), static_cast<std::uint8_t>(handle >> 8), 0x00,
                   0x01, 0xF6, 0xE5, 0xD4, 0xC3, 0xB2, 0xA1, static_cast<std::uint8_t>(ok ? 0x18 : 0), 0x00,
                   static_cast<std::uint8_t>(ok ? 0x02 : 0), 0x00, static_cast<std::uint8_t>(ok ? 0xC8 : 0),
                   0x00, 0x00});
}

bool Closed(ControllerHarness& h, const FakeLinkRecord& link)
{
    return h.radio.WaitUntil([&] { return link.closes > 0; });
}

bool Held(ControllerHarness& h)
{
    return h.radio.WaitUntil([&] { return h.radio.waiting > 0; });
}

TEST(LeCreateConnection, SuccessfulAttemptIsReportedWithTheFirstHandle)
{
    ControllerHarness h;
    EXPECT_EQ(h.Command(0x200D, CreateConnection(Peer)), Events{CommandStatus(0x200D, 0x00)});
    ASSERT_TRUE(h.WaitForPackets(2));
    EXPECT_EQ(h.Sent()[1].second, ConnectionComplete(0x00, 0x0040));
    EXPECT_EQ(h.radio.links.at(0)->addresses, (LinkAddresses{0x0000C0FFEE42, false, Peer, true}));
    EXPECT_TRUE(h.controller().HasLink(0x0040));
    EXPECT_EQ(h.LogLines(), (std::vector<std::string>{"le: connecting to A1B2C3D4E5F6",
                                                      "le: connected to A1B2C3D4E5F6 as handle 0x0040"}));
}

TEST(LeCreateConnection, RandomOwnAddressTypeUsesTheStoredRandomAddress)
{
    ControllerHarness h;
    h.Command(0x2005, {0x01, 0x02, 0x03, 0x04, 0x05, 0xC6});
    h.Command(0x200D, CreateConnection(Peer, 0, 0x01));
    ASSERT_TRUE(h.WaitForPackets(3));
    EXPECT_EQ(h.radio.links.at(0)->addresses, (LinkAddresses{0xC60504030201, true, Peer, true}));
}

TEST(LeCreateConnection, FailedAttemptReportsStatus0x3EWithoutHandle)
{
    ControllerHarness h;
    h.radio.fail = true;
    h.Command(0x200D, CreateConnection(Peer));
    ASSERT_TRUE(h.WaitForPackets(2));
    EXPECT_EQ(h.Sent()[1].second, ConnectionComplete(0x3E, 0));
    EXPECT_EQ(h.LogLines().back(), "le: connection to A1B2C3D4E5F6 not established (status 0x3E)");
}

TEST(LeCreateConnection, AnAttemptStartedAsThePreviousOneEndsStaysPendingUntilCancelled)
{
    // Android may answer an attempt's LE Connection Complete at once with its next LE Create
    // Connection, while the previous worker is still on its way out.
    ControllerHarness h;
    for (int round = 0; round < 50; ++round)
    {
        SCOPED_TRACE(round);
        std::size_t before = h.SentCount();
        h.Command(0x200D, CreateConnection(Peer));
        ASSERT_TRUE(h.WaitForPackets(before + 2));
        EXPECT_EQ(h.Command(0x200D, CreateConnection(Peer, 0x01)), Events{CommandStatus(0x200D, 0x00)});
        EXPECT_EQ(h.Command(0x200D, CreateConnection(Peer, 0x01)), Events{CommandStatus(0x200D, 0x0C)})
            << "a second attempt was let in while the first still waits";
        EXPECT_EQ(h.Command(0x200E), Events{CommandComplete(0x200E, 0x00)});
        ASSERT_TRUE(h.WaitForPackets(before + 6));
        // The cancel is answered before the cancelled attempt's LE Connection Complete.
        EXPECT_EQ(h.Sent()[before + 4].second, CommandComplete(0x200E, 0x00));
        EXPECT_EQ(h.Sent()[before + 5].second, ConnectionComplete(0x02, 0));
        h.Command(0x0C03); // Reset closes the link, so that the next round starts with no connection
    }
}

TEST(Reset, ClosesEveryLinkAndSilencesTheAttemptUnderWay)
{
    ControllerHarness h;
    auto first = h.Connect(Peer);
    h.radio.hold = true;
    h.Command(0x200D, CreateConnection(Peer));
    ASSERT_TRUE(Held(h));
    EXPECT_EQ(h.Command(0x0C03), Events{CommandComplete(0x0C03, 0x00)});
    h.radio.Release();
    ASSERT_TRUE(h.radio.WaitUntil([&] { return h.radio.links.size() == 2 && h.radio.links[1]->closes > 0; }));
    EXPECT_TRUE(Closed(h, *first));
    EXPECT_EQ(h.Command(0x0C19).size(), 1u); // the controller goes on
    EXPECT_EQ(h.SentCount(), 5u) << "no Disconnection Complete, no LE Connection Complete after Reset";
    EXPECT_FALSE(h.controller().HasLink(0x0040));
    EXPECT_FALSE(h.controller().HasLink(0x0041));
    EXPECT_EQ(h.Acl({0x40, 0x20, 0x05, 0x00, 0x03, 0x00, 0x04, 0x00, 0x0A}).size(), 1u);
    EXPECT_TRUE(first->pushed.empty());
}

TEST(LeCreateConnection, DeviceLostBeforeTheLinkWasEnteredIsReportedDisconnected)
{
    ControllerHarness h;
    h.radio.lostWhileOpening = true;
    h.Command(0x200D, CreateConnection(Peer));
    ASSERT_TRUE(h.WaitForPackets(3));
    EXPECT_EQ(h.Sent()[1].second, ConnectionComplete(0x00, 0x0040));
    EXPECT_EQ(h.Sent()[2].second, Event(0x05, {0x00, 0x40, 0x00, 0x08}));
    EXPECT_TRUE(Closed(h, *h.radio.links[0]));
    EXPECT_FALSE(h.controller().HasLink(0x0040));
}

TEST(HandleAllocator, GoesRoundFrom0x0040To0x0EFFPassingOverTakenHandles)
{
    HandleAllocator handles;
    std::set<std::uint16_t> taken{0x0041, 0x0EFF};
    auto next = [&] { return handles.Next([&](std::uint16_t handle) { return taken.contains(handle); }); };
    std::vector<std::uint16_t> expected, got;
    for (std::uint16_t handle = 0x0040; handle <= 0x0EFE; ++handle)
        if (handle != 0x0041)
            expected.push_back(handle);
    for (std::size_t i = 0; i < expected.size(); ++i)
        got.push_back(next().value_or(0));
    EXPECT_EQ(got, expected);
    taken.insert(0x0040);
    EXPECT_EQ(next(), 0x0042) << "round again, past 0x0EFF, 0x0040 and 0x0041";
    taken.erase(0x0EFF);
    EXPECT_EQ(next(), 0x0043) << "a handle freed behind the search waits for the next round";
    for (std::uint16_t handle = 0x0040; handle <= 0x0EFF; ++handle)
        taken.insert(handle);
    EXPECT_EQ(next(), std::nullopt);
    taken.erase(0x0100);
    EXPECT_EQ(next(), 0x0100);
}

TEST(LeCreateConnection, HandlesWrapAt0x0EFFSkippingThoseInUseOrStillBeingClosed)
{
    ControllerHarness h;
    auto kept = h.Connect(Peer); // 0x0040 stays connected
    auto closing = h.Connect(Peer);
    h.radio.holdClose = true;
    h.Command(0x0406, {0x41, 0x00, 0x13}); // 0x0041's link is still being torn down
    ASSERT_TRUE(h.radio.WaitUntil([&] { return h.radio.closing == 1; }));
    ControllerProbe::NextHandleAt(h.controller(), 0x0EFE); // as if the handles between were used
    h.radio.fail = true;
    std::size_t before = h.SentCount();
    h.Command(0x200D, CreateConnection(Peer));
    ASSERT_TRUE(h.WaitForPackets(before + 2));
    h.radio.fail = false;
    h.Connect(Peer);
    EXPECT_TRUE(h.controller().HasLink(0x0EFF)) << "a failed attempt uses its handle up";
    h.Connect(Peer);
    EXPECT_TRUE(h.controller().HasLink(0x0042));
    EXPECT_TRUE(h.controller().HasLink(0x0040));
    h.radio.Release();
    EXPECT_TRUE(Closed(h, *closing));
    EXPECT_EQ(kept->closes, 0);
}

// Whatever reports on a link while its LE Connection Complete is on its way waits for it.
TEST(LeCreateConnection, ConnectionCompleteLeavesBeforeAnyLaterReportOnTheLink)
{
    struct Case
    {
        const char* name;
        std::function<void(ControllerHarness&)> meanwhile;
        Bytes follows; // the report that must come after LE Connection Complete
    };
    const Case cases[] = {
        {"device lost", [](ControllerHarness& h) { h.radio.links.back()->onDisconnect(0x08); },
         Event(0x05, {0x00, 0x40, 0x00, 0x08})},
        {"reset", [](ControllerHarness& h) { h.Command(0x0C03); }, CommandComplete(0x0C03, 0x00)},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        ControllerHarness h;
        std::thread other;
        h.beforeRecording = [&](const Bytes& packet) {
            if (packet.size() < 3 || packet[0] != 0x3E || packet[2] != 0x01)
                return; // only LE Connection Complete, which comes once
            other = std::thread([&] { c.meanwhile(h); });
            // The report must not overtake this one; give it every chance to.
            h.radio.WaitUntil([&] { return false; }, std::chrono::milliseconds(200));
        };
        h.Command(0x200D, CreateConnection(Peer));
        ASSERT_TRUE(h.WaitForPackets(3));
        other.join();
        auto sent = h.Sent();
        ASSERT_EQ(sent.size(), 3u);
        EXPECT_EQ(sent[1].second, ConnectionComplete(0x00, 0x0040));
        EXPECT_EQ(sent[2].second, c.follows);
        EXPECT_FALSE(h.controller().HasLink(0x0040));
    }
}

TEST(Disconnect, KnownHandleClosesTheLinkAndReportsReason0x16)
{
    ControllerHarness h;
    auto link = h.Connect(Peer);
    EXPECT_EQ(h.Command(0x0406, {0x40, 0x00, 0x13}),
              (Events{CommandStatus(0x0406, 0x00), Event(0x05, {0x00, 0x40, 0x00, 0x16})}));
    EXPECT_EQ(h.LogLines().back(), "le: disconnecting handle 0x0040");
    EXPECT_TRUE(Closed(h, *link));
    EXPECT_FALSE(h.controller().HasLink(0x0040));
}

TEST(Disconnect, DeviceLossIsReportedOnceWithItsReason)
{
    ControllerHarness h;
    auto link = h.Connect(Peer);
    std::size_t before = h.SentCount();
    // Reported from a thread of the link's, which a link joins when it is released.
    std::thread([&] {
        link->onDisconnect(0x08);
        link->onDisconnect(0x08);
        EXPECT_TRUE(h.radio.WaitUntil([&] { return link->releasedOn != std::thread::id{}; }));
        EXPECT_NE(link->releasedOn, std::this_thread::get_id());
    }).join();
    auto sent = h.Sent();
    ASSERT_EQ(sent.size(), before + 1);
    EXPECT_EQ(sent.back().second, Event(0x05, {0x00, 0x40, 0x00, 0x08}));
    EXPECT_TRUE(Closed(h, *link));
}

TEST(LinkCommands, AnswerForAKnownHandle)
{
    ControllerHarness h;
    auto link = h.Connect(Peer);
    EXPECT_EQ(
        h.Command(0x041D, {0x40, 0xF0}), // the handle's flag bits are ignored
        (Events{CommandStatus(0x041D, 0x00), Event(0x0C, {0x00, 0x40, 0x00, 0x08, 0xFF, 0xFF, 0x00, 0x00})}));
    EXPECT_EQ(h.Command(0x2013, {0x40, 0x00, 0x18, 0x00, 0x28, 0x00, 0x04, 0x00, 0xF4, 0x01}),
              (Events{CommandStatus(0x2013, 0x00),
                      LeMeta(0x03, {0x00, 0x40, 0x00, 0x28, 0x00, 0x04, 0x00, 0xF4, 0x01})}));
    EXPECT_EQ(
        h.Command(0x2016, {0x40, 0x00}),
        (Events{CommandStatus(0x2016, 0x00), LeMeta(0x04, {0x00, 0x40, 0x00, 0x1F, 0, 0, 0, 0, 0, 0, 0})}));
    EXPECT_EQ(h.Command(0x2019, {0x40, 0x00}),
              (Events{CommandStatus(0x2019, 0x00), Event(0x08, {0x00, 0x40, 0x00, 0x01})}));
    EXPECT_EQ(link->keyDistributions, 1);
    EXPECT_TRUE(link->pushed.empty());
}

TEST(AclData, PacketsAreAcknowledgedAndPdusTravelBothWaysOnTheLinksHandle)
{
    ControllerHarness h;
    auto link = h.Connect(Peer);
    EXPECT_EQ(h.Acl({0x40, 0x20, 0x05, 0x00, 0x03, 0x00, 0x04, 0x00, 0x0A}),
              Events{Event(0x13, {0x01, 0x40, 0x00, 0x01, 0x00})});
    EXPECT_EQ(h.Acl({0x40, 0x10, 0x02, 0x00, 0x01, 0x00}).size(), 1u);
    EXPECT_EQ(link->pushed, (std::vector<std::pair<std::uint16_t, Bytes>>{{0x0004, {0x0A, 0x01, 0x00}}}));
    // Unknown handles are acknowledged too; their data goes nowhere.
    EXPECT_EQ(h.Acl({0x99, 0x21, 0x00, 0x00}), Events{Event(0x13, {0x01, 0x99, 0x01, 0x01, 0x00})});
    EXPECT_TRUE(h.Acl({0x40, 0x20, 0x00}).empty());

    std::size_t before = h.SentCount();
    link->send(0x0004, Bytes(300, 0x77));
    auto sent = h.Sent();
    ASSERT_EQ(sent.size(), before + 2);
    EXPECT_EQ(sent[before].first, Hci::PacketType::Acl);
    EXPECT_EQ(Bytes(sent[before].second.begin(), sent[before].second.begin() + 4),
              (Bytes{0x40, 0x20, 251, 0}));
    EXPECT_EQ(Bytes(sent[before + 1].second.begin(), sent[before + 1].second.begin() + 4),
              (Bytes{0x40, 0x10, 53, 0}));
}

TEST(Destruction, WaitsForTheAttemptInWindowsAndClosesEveryLink)
{
    auto h = std::make_unique<ControllerHarness>();
    auto first = h->Connect(Peer);
    h->radio.hold = true;
    h->Command(0x200D, CreateConnection(Peer));
    ASSERT_TRUE(Held(*h));
    std::thread destroy([&] { h->Destroy(); });
    EXPECT_TRUE(h->radio.WaitUntil([&] { return h->radio.cancelled; }))
        << "the destruction cancels the attempt";
    h->radio.Release(); // which Windows finishes all the same, while the destruction waits for it
    destroy.join();
    ASSERT_EQ(h->radio.links.size(), 2u);
    EXPECT_EQ(first->closes, 1);
    EXPECT_EQ(h->radio.links[1]->closes, 1);
}

TEST(AclData, ALinkWithAFullQueueHoldsItsCreditsUntilItHasRoom)
{
    ControllerHarness h;
    auto link = h.Connect(Peer);
    link->holdCredits = true;
    const Bytes pdu = {0x40, 0x20, 0x05, 0x00, 0x01, 0x00, 0x04, 0x00, 0x52};
    EXPECT_TRUE(h.Acl(pdu).empty());
    EXPECT_TRUE(h.Acl(pdu).empty());
    EXPECT_EQ(h.Acl({0x40, 0x20, 0x02, 0x00, 0x01, 0x00}).size(), 1u) << "a first fragment is no PDU yet";
    link->creditsFreed();
    EXPECT_EQ(h.Sent().back().second, Event(0x13, {0x01, 0x40, 0x00, 0x02, 0x00}));
    std::size_t before = h.SentCount();
    link->creditsFreed();
    EXPECT_EQ(h.SentCount(), before) << "no credit returned twice";
    EXPECT_EQ(link->pushed.size(), 2u);
}

TEST(Inquiry, CompletesAfterItsLengthUnlessCancelledOrRestarted)
{
    ControllerHarness h;
    EXPECT_EQ(h.Command(0x0401, {0x33, 0x8B, 0x9E, 0x01, 0x00}), Events{CommandStatus(0x0401, 0x00)});
    ASSERT_TRUE(h.clock.WaitForWaiters(1));
    EXPECT_EQ(h.Command(0x0402), Events{CommandComplete(0x0402, 0x00)});
    h.Command(0x0401, {0x33, 0x8B, 0x9E, 0x03, 0x00});
    h.Command(0x0401, {0x33, 0x8B, 0x9E, 0x30, 0x00}); // restarts the wait
    ASSERT_TRUE(h.clock.WaitForWaiters(1));
    h.clock.Advance();
    ASSERT_TRUE(h.WaitForPackets(5));
    EXPECT_EQ(h.Sent()[4].second, Event(0x01, {0x00}));
    h.Command(0x0401, {0x33, 0x8B, 0x9E, 0x02, 0x00});
    ASSERT_TRUE(h.clock.WaitForWaiters(1));
    h.Command(0x0C03); // Reset ends the inquiry too
    h.Destroy();
    EXPECT_EQ(h.SentCount(), 7u) << "one Inquiry Complete only";
    using std::chrono::milliseconds;
    EXPECT_EQ(h.clock.waits, (std::vector<milliseconds>{milliseconds(1280), milliseconds(3840),
                                                        milliseconds(10240), milliseconds(2560)}));
}

} // namespace
