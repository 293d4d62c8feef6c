// LE connection attempts, the link table, disconnection, commands on a connection, ACL data and
// the inquiry.
#include "ControllerHarness.h"

#include <gtest/gtest.h>

#include <thread>

namespace
{

using namespace Pd::Bt;
using namespace Pd::Bt::Test;
using namespace std::chrono_literals;

constexpr std::uint64_t Peer = 0xA1B2C3D4E5F6;

// LE Create Connection to Peer: filter policy, peer type 1 (random), own address type.
Bytes CreateConnection(std::uint8_t filterPolicy = 0, std::uint8_t ownType = 0)
{
    Bytes p = {0x60, 0x00, 0x30, 0x00, filterPolicy, 0x01, 0xF6, 0xE5, 0xD4, 0xC3, 0xB2, 0xA1, ownType,
               0x18, 0x00, 0x28, 0x00, 0x02,         0x00, 0xC8, 0x00, 0x00, 0x00, 0x00, 0x00};
    return p;
}

Bytes ConnectionComplete(std::uint8_t status, std::uint16_t handle)
{
    bool ok = status == 0;
    return LeMeta(0x01,
                  {status, static_cast<std::uint8_t>(handle), static_cast<std::uint8_t>(handle >> 8), 0x00,
                   0x01, 0xF6, 0xE5, 0xD4, 0xC3, 0xB2, 0xA1, static_cast<std::uint8_t>(ok ? 0x18 : 0), 0x00,
                   static_cast<std::uint8_t>(ok ? 0x02 : 0), 0x00, static_cast<std::uint8_t>(ok ? 0xC8 : 0),
                   0x00, 0x00});
}

struct Connected
{
    FakeRadio radio;
    ControllerServices Services()
    {
        ControllerServices services;
        services.connectLink = radio.Connector();
        return services;
    }
};

// Connects once and returns the link's record.
std::shared_ptr<FakeLinkRecord> Connect(ControllerHarness& h, FakeRadio& radio)
{
    std::size_t before = h.SentCount();
    h.Command(0x200D, CreateConnection());
    EXPECT_TRUE(h.WaitForPackets(before + 2));
    std::lock_guard guard(radio.lock);
    return radio.links.back();
}

bool WaitForCloses(FakeLinkRecord& record, int closes)
{
    for (int i = 0; i < 500; ++i)
    {
        {
            std::lock_guard guard(record.lock);
            if (record.closes >= closes)
                return true;
        }
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

std::shared_ptr<FakeLinkRecord> FirstLinkWhenOpened(FakeRadio& radio)
{
    std::unique_lock guard(radio.lock);
    radio.changed.wait_for(guard, 5s, [&] { return !radio.links.empty(); });
    return radio.links.empty() ? nullptr : radio.links[0];
}

TEST(LeCreateConnection, SuccessfulAttemptIsReportedWithTheFirstHandle)
{
    Connected c;
    ControllerHarness h(c.Services());
    EXPECT_EQ(h.Command(0x200D, CreateConnection()), Events{CommandStatus(0x200D, 0x00)});
    ASSERT_TRUE(h.WaitForPackets(2));
    EXPECT_EQ(h.Sent()[1].second, ConnectionComplete(0x00, 0x0040));
    auto record = c.radio.links.at(0);
    EXPECT_EQ(record->addresses, (LinkAddresses{0x0000C0FFEE42, false, Peer, true}));
    EXPECT_TRUE(h.controller().HasLink(0x0040));
    auto log = h.LogLines();
    EXPECT_EQ(log.at(log.size() - 2), "le: connecting to A1B2C3D4E5F6");
    EXPECT_EQ(log.back(), "le: connected to A1B2C3D4E5F6 as handle 0x0040");
}

TEST(LeCreateConnection, RandomOwnAddressTypeUsesTheStoredRandomAddress)
{
    Connected c;
    ControllerHarness h(c.Services());
    EXPECT_EQ(h.Command(0x2005, {0x01, 0x02, 0x03, 0x04, 0x05}), Events{CommandComplete(0x2005, 0x12)});
    h.Command(0x2005, {0x01, 0x02, 0x03, 0x04, 0x05, 0xC6});
    h.Command(0x200D, CreateConnection(0, 0x01));
    ASSERT_TRUE(h.WaitForPackets(4));
    EXPECT_EQ(c.radio.links.at(0)->addresses, (LinkAddresses{0xC60504030201, true, Peer, true}));
}

TEST(LeCreateConnection, FailedAttemptReportsStatus0x3EWithoutHandle)
{
    Connected c;
    c.radio.fail = true;
    ControllerHarness h(c.Services());
    h.Command(0x200D, CreateConnection());
    ASSERT_TRUE(h.WaitForPackets(2));
    EXPECT_EQ(h.Sent()[1].second, ConnectionComplete(0x3E, 0));
    EXPECT_EQ(h.LogLines().back(), "le: connection to A1B2C3D4E5F6 not established (status 0x3E)");
}

TEST(LeCreateConnection, SecondAttemptWhileOneIsPendingIsDisallowed)
{
    Connected c;
    c.radio.hold = true;
    ControllerHarness h(c.Services());
    h.Command(0x200D, CreateConnection());
    ASSERT_TRUE(c.radio.WaitUntilHeld(5s));
    EXPECT_EQ(h.Command(0x200D, CreateConnection()), Events{CommandStatus(0x200D, 0x0C)});
    c.radio.Release();
    ASSERT_TRUE(h.WaitForPackets(3));
}

TEST(LeCreateConnection, CancelledFilterAcceptListAttemptReportsStatus0x02)
{
    ControllerHarness h;
    EXPECT_EQ(h.Command(0x200D, CreateConnection(0x01)), Events{CommandStatus(0x200D, 0x00)});
    EXPECT_EQ(h.Command(0x200E), Events{CommandComplete(0x200E, 0x00)});
    ASSERT_TRUE(h.WaitForPackets(3));
    EXPECT_EQ(h.Sent()[2].second, ConnectionComplete(0x02, 0));
}

TEST(LeCreateConnection, AnAttemptStartedAsThePreviousOneEndsStaysPendingUntilCancelled)
{
    // Android may answer an attempt's LE Connection Complete at once with its next LE Create
    // Connection, while the previous worker is still on its way out.
    Connected c;
    ControllerHarness h(c.Services());
    for (int round = 0; round < 50; ++round)
    {
        std::size_t before = h.SentCount();
        h.Command(0x200D, CreateConnection());
        ASSERT_TRUE(h.WaitForPackets(before + 2)) << "round " << round;
        EXPECT_EQ(h.Command(0x200D, CreateConnection(0x01)), Events{CommandStatus(0x200D, 0x00)});
        EXPECT_EQ(h.Command(0x200D, CreateConnection(0x01)), Events{CommandStatus(0x200D, 0x0C)})
            << "round " << round << ": a second attempt was let in while the first still waits";
        EXPECT_EQ(h.Command(0x200E), Events{CommandComplete(0x200E, 0x00)});
        ASSERT_TRUE(h.WaitForPackets(before + 6)) << "round " << round;
        h.Command(0x0C03); // Reset closes the link, so that the next round starts with no connection
    }
}

TEST(LeCreateConnection, ResetDuringTheAttemptSilencesItAndClosesItsLink)
{
    Connected c;
    c.radio.hold = true;
    ControllerHarness h(c.Services());
    h.Command(0x200D, CreateConnection());
    ASSERT_TRUE(c.radio.WaitUntilHeld(5s));
    h.Command(0x0C03);
    c.radio.Release();
    auto link = FirstLinkWhenOpened(c.radio);
    ASSERT_TRUE(link);
    ASSERT_TRUE(WaitForCloses(*link, 1));
    EXPECT_EQ(h.Command(0x0C19).size(), 1u); // the controller goes on
    auto sent = h.Sent();
    EXPECT_EQ(sent.size(), 3u)
        << "Command Status, Reset's Command Complete, Read Scan Enable: no LE Connection Complete";
    EXPECT_FALSE(h.controller().HasLink(0x0040));
}

TEST(LeCreateConnection, DeviceLostBeforeTheLinkWasEnteredIsReportedDisconnected)
{
    Connected c;
    c.radio.lostWhileOpening = true;
    ControllerHarness h(c.Services());
    h.Command(0x200D, CreateConnection());
    ASSERT_TRUE(h.WaitForPackets(3));
    EXPECT_EQ(h.Sent()[1].second, ConnectionComplete(0x00, 0x0040));
    EXPECT_EQ(h.Sent()[2].second, Event(0x05, {0x00, 0x40, 0x00, 0x08}));
    EXPECT_TRUE(WaitForCloses(*c.radio.links[0], 1));
    EXPECT_FALSE(h.controller().HasLink(0x0040));
}

TEST(LeCreateConnection, HandlesRunUpTo0x0EFFAndStartOverAt0x0040)
{
    Connected c;
    c.radio.fail = true;
    ControllerHarness h(c.Services());
    for (int i = 0x0040; i < 0x0EFF; ++i)
    {
        std::size_t before = h.SentCount();
        h.Command(0x200D, CreateConnection());
        ASSERT_TRUE(h.WaitForPackets(before + 2));
    }
    c.radio.fail = false;
    Connect(h, c.radio);
    EXPECT_TRUE(h.controller().HasLink(0x0EFF));
    Connect(h, c.radio);
    EXPECT_TRUE(h.controller().HasLink(0x0040));
}

TEST(Disconnect, UnknownHandleIsAnsweredWithoutDisconnectionComplete)
{
    ControllerHarness h;
    EXPECT_EQ(h.Command(0x0406, {0x40, 0x00, 0x13}), Events{CommandStatus(0x0406, 0x02)});
}

TEST(Disconnect, KnownHandleClosesTheLinkAndReportsReason0x16)
{
    Connected c;
    ControllerHarness h(c.Services());
    auto link = Connect(h, c.radio);
    EXPECT_EQ(h.Command(0x0406, {0x40, 0x00, 0x13}),
              (Events{CommandStatus(0x0406, 0x00), Event(0x05, {0x00, 0x40, 0x00, 0x16})}));
    EXPECT_EQ(h.LogLines().back(), "le: disconnecting handle 0x0040");
    EXPECT_TRUE(WaitForCloses(*link, 1));
    EXPECT_FALSE(h.controller().HasLink(0x0040));
}

TEST(LinkLoss, DeviceLossIsReportedOnceWithItsReason)
{
    Connected c;
    ControllerHarness h(c.Services());
    auto link = Connect(h, c.radio);
    std::size_t before = h.SentCount();
    link->onDisconnect(0x08);
    link->onDisconnect(0x08);
    auto sent = h.Sent();
    ASSERT_EQ(sent.size(), before + 1);
    EXPECT_EQ(sent.back().second, Event(0x05, {0x00, 0x40, 0x00, 0x08}));
    EXPECT_TRUE(WaitForCloses(*link, 1));
}

TEST(LinkCommands, AnswerForAKnownHandleAndRefuseAnUnknownOne)
{
    Connected c;
    ControllerHarness h(c.Services());
    auto link = Connect(h, c.radio);
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
    EXPECT_EQ(link->pushed, (std::vector<std::pair<std::uint16_t, Bytes>>{{0xFFFF, {}}}));
    for (std::uint16_t opcode : {0x041D, 0x2016, 0x2019})
        EXPECT_EQ(h.Command(opcode, {0x41, 0x00}), Events{CommandStatus(opcode, 0x02)}) << std::hex << opcode;
    EXPECT_EQ(h.Command(0x2013, {0x41, 0x00, 0, 0, 0, 0, 0, 0, 0, 0}), Events{CommandStatus(0x2013, 0x02)});
}

TEST(AclData, EveryPacketIsAcknowledgedAndWholePdusReachTheLink)
{
    Connected c;
    ControllerHarness h(c.Services());
    auto link = Connect(h, c.radio);
    EXPECT_EQ(h.Acl({0x40, 0x20, 0x05, 0x00, 0x03, 0x00, 0x04, 0x00, 0x0A}),
              Events{Event(0x13, {0x01, 0x40, 0x00, 0x01, 0x00})});
    EXPECT_EQ(h.Acl({0x40, 0x10, 0x02, 0x00, 0x01, 0x00}).size(), 1u);
    EXPECT_EQ(link->pushed, (std::vector<std::pair<std::uint16_t, Bytes>>{{0x0004, {0x0A, 0x01, 0x00}}}));
    // Unknown handles are acknowledged too; their data goes nowhere.
    EXPECT_EQ(h.Acl({0x99, 0x21, 0x00, 0x00}), Events{Event(0x13, {0x01, 0x99, 0x01, 0x01, 0x00})});
    EXPECT_TRUE(h.Acl({0x40, 0x20, 0x00}).empty());
}

TEST(AclData, LinkPdusLeaveAsAclFragmentsOfTheirHandle)
{
    Connected c;
    ControllerHarness h(c.Services());
    auto link = Connect(h, c.radio);
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

TEST(Reset, ClosesEveryLinkWithoutDisconnectionComplete)
{
    Connected c;
    ControllerHarness h(c.Services());
    auto link = Connect(h, c.radio);
    EXPECT_EQ(h.Command(0x0C03), Events{CommandComplete(0x0C03, 0x00)});
    EXPECT_TRUE(WaitForCloses(*link, 1));
    EXPECT_FALSE(h.controller().HasLink(0x0040));
    EXPECT_EQ(h.Acl({0x40, 0x20, 0x05, 0x00, 0x03, 0x00, 0x04, 0x00, 0x0A}).size(), 1u);
    EXPECT_TRUE(link->pushed.empty());
}

TEST(Destruction, WaitsForTheAttemptInWindowsAndClosesEveryLink)
{
    Connected c;
    auto h = std::make_unique<ControllerHarness>(c.Services());
    auto first = Connect(*h, c.radio);
    c.radio.hold = true;
    h->Command(0x200D, CreateConnection());
    ASSERT_TRUE(c.radio.WaitUntilHeld(5s));
    std::thread destroy([&] { h->Destroy(); });
    std::this_thread::sleep_for(50ms);
    c.radio.Release();
    destroy.join();
    ASSERT_EQ(c.radio.links.size(), 2u);
    EXPECT_EQ(first->closes, 1);
    EXPECT_EQ(c.radio.links[1]->closes, 1);
}

TEST(Inquiry, CompletesAfterItsLengthUnlessCancelled)
{
    ControllerHarness h;
    // Length 1 (1.28 s), cancelled at once: no Inquiry Complete for it.
    EXPECT_EQ(h.Command(0x0401, {0x33, 0x8B, 0x9E, 0x01, 0x00}), Events{CommandStatus(0x0401, 0x00)});
    EXPECT_EQ(h.Command(0x0402), Events{CommandComplete(0x0402, 0x00)});
    // Length 0 completes at once.
    h.Command(0x0401, {0x33, 0x8B, 0x9E, 0x00, 0x00});
    ASSERT_TRUE(h.WaitForPackets(4));
    EXPECT_EQ(h.Sent()[3].second, Event(0x01, {0x00}));
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(h.SentCount(), 4u);
}

} // namespace
