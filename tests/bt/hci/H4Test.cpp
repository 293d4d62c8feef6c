#include "bt/hci/H4.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace
{

using Pd::Bt::Bytes;
using Pd::Bt::ByteView;
using Pd::Bt::H4Deframer;
using Pd::Bt::Hci::PacketType;

struct Delivered
{
    std::vector<std::pair<PacketType, Bytes>> packets;
    H4Deframer deframer{[this](PacketType type, ByteView bytes) {
        packets.emplace_back(type, Bytes(bytes.begin(), bytes.end()));
    }};
};

// Reset (type 1, opcode 0x0C03, no parameters), then Write Local Name with 3 parameter bytes.
const Bytes TwoCommands = {0x01, 0x03, 0x0C, 0x00, 0x01, 0x13, 0x0C, 0x03, 'a', 'b', 'c'};

TEST(H4Deframer, CommandSplitAtEveryPositionIsDeliveredOnceAndWhole)
{
    const Bytes stream = {0x01, 0x13, 0x0C, 0x03, 'a', 'b', 'c'};
    for (std::size_t split = 1; split < stream.size(); ++split)
    {
        Delivered d;
        ASSERT_TRUE(d.deframer.Feed(ByteView(stream).first(split)));
        EXPECT_TRUE(d.packets.empty()) << "split " << split;
        ASSERT_TRUE(d.deframer.Feed(ByteView(stream).subspan(split)));
        ASSERT_EQ(d.packets.size(), 1u) << "split " << split;
        EXPECT_EQ(d.packets[0].first, PacketType::Command);
        EXPECT_EQ(d.packets[0].second, Bytes(stream.begin() + 1, stream.end()));
    }
}

TEST(H4Deframer, ByteByByteFeedingGivesTheSamePacketsAsOneFeed)
{
    Delivered whole;
    ASSERT_TRUE(whole.deframer.Feed(TwoCommands));
    Delivered bytewise;
    for (std::uint8_t byte : TwoCommands)
        ASSERT_TRUE(bytewise.deframer.Feed(ByteView(&byte, 1)));
    ASSERT_EQ(whole.packets.size(), 2u);
    EXPECT_EQ(bytewise.packets, whole.packets);
}

TEST(H4Deframer, SeveralPacketsInOneReceiveArriveInOrder)
{
    Delivered d;
    ASSERT_TRUE(d.deframer.Feed(TwoCommands));
    ASSERT_EQ(d.packets.size(), 2u);
    EXPECT_EQ(d.packets[0].second, (Bytes{0x03, 0x0C, 0x00}));
    EXPECT_EQ(d.packets[1].second, (Bytes{0x13, 0x0C, 0x03, 'a', 'b', 'c'}));
}

TEST(H4Deframer, ZeroLengthPacketsAreDeliveredAfterTheirHeader)
{
    Delivered d;
    ASSERT_TRUE(d.deframer.Feed(Bytes{0x04, 0x0E, 0x00}));             // event, any code, length 0
    ASSERT_TRUE(d.deframer.Feed(Bytes{0x02, 0x40, 0x20, 0x00, 0x00})); // ACL with length 0
    ASSERT_EQ(d.packets.size(), 2u);
    EXPECT_EQ(d.packets[0], std::pair(PacketType::Event, Bytes{0x0E, 0x00}));
    EXPECT_EQ(d.packets[1], std::pair(PacketType::Acl, Bytes{0x40, 0x20, 0x00, 0x00}));
}

TEST(H4Deframer, EachTypeTakesItsOwnHeaderAndLengthField)
{
    Delivered d;
    ASSERT_TRUE(d.deframer.Feed(Bytes{0x03, 0x01, 0x00, 0x02, 0xAA, 0xBB}));       // SCO: 1-byte length
    ASSERT_TRUE(d.deframer.Feed(Bytes{0x02, 0x40, 0x00, 0x02, 0x00, 0xCC, 0xDD})); // ACL: 2-byte length
    ASSERT_TRUE(d.deframer.Feed(Bytes{0x04, 0x3E, 0x01, 0xEE}));                   // event: 1-byte length
    ASSERT_EQ(d.packets.size(), 3u);
    EXPECT_EQ(d.packets[0].second.size(), 5u);
    EXPECT_EQ(d.packets[1].second.size(), 6u);
    EXPECT_EQ(d.packets[2].second.size(), 3u);
}

TEST(H4Deframer, IsoLengthUsesOnlyItsLow14Bits)
{
    Delivered d;
    // Length field 0xC001: the reserved top bits are set, the length is 1.
    ASSERT_TRUE(d.deframer.Feed(Bytes{0x05, 0x01, 0x00, 0x01, 0xC0, 0x77, 0x01, 0x03, 0x0C, 0x00}));
    ASSERT_EQ(d.packets.size(), 2u);
    EXPECT_EQ(d.packets[0], std::pair(PacketType::Iso, Bytes{0x01, 0x00, 0x01, 0xC0, 0x77}));
    EXPECT_EQ(d.packets[1].first, PacketType::Command);
}

TEST(H4Deframer, BadTypeBytesEndTheStreamAndDropTheRest)
{
    for (std::uint8_t bad : {0x00, 0x06, 0xFF})
    {
        Delivered d;
        Bytes stream = {0x01, 0x03, 0x0C, 0x00, bad, 0x01, 0x03, 0x0C, 0x00};
        EXPECT_FALSE(d.deframer.Feed(stream)) << int(bad);
        EXPECT_EQ(d.packets.size(), 1u) << "only the packet before the bad byte is delivered";
    }
}

TEST(H4Deframer, LargestAclPacketIsAssembledAcrossReceives)
{
    Bytes stream = {0x02, 0x40, 0x00, 0xFF, 0xFF};
    stream.resize(5 + 0xFFFF, 0x5A);
    Delivered d;
    for (std::size_t at = 0; at < stream.size(); at += 4096)
        ASSERT_TRUE(
            d.deframer.Feed(ByteView(stream).subspan(at, std::min<std::size_t>(4096, stream.size() - at))));
    ASSERT_EQ(d.packets.size(), 1u);
    EXPECT_EQ(d.packets[0].second.size(), 4u + 0xFFFF);
}

TEST(H4Frame, PutsTheTypeByteBeforeThePacket)
{
    EXPECT_EQ(Pd::Bt::H4Frame(PacketType::Event, Bytes{0x0E, 0x00}), (Bytes{0x04, 0x0E, 0x00}));
    EXPECT_EQ(Pd::Bt::H4Frame(PacketType::Acl, {}), (Bytes{0x02}));
}

} // namespace
