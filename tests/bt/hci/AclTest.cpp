#include "bt/hci/Acl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

namespace
{

using Pd::Bt::AclReassembly;
using Pd::Bt::Bytes;
using Pd::Bt::FragmentL2cap;
using Pd::Bt::ReassembleAcl;

// An ACL packet for handle 0x041 with the packet-boundary flag and the data.
Bytes Acl(std::uint16_t pb, const Bytes& data, std::uint16_t handle = 0x041)
{
    std::uint16_t field = static_cast<std::uint16_t>(handle | pb);
    Bytes packet{static_cast<std::uint8_t>(field), static_cast<std::uint8_t>(field >> 8),
                 static_cast<std::uint8_t>(data.size()), static_cast<std::uint8_t>(data.size() >> 8)};
    std::copy(data.begin(), data.end(), std::back_inserter(packet));
    return packet;
}

constexpr std::uint16_t First = 0x2000;
constexpr std::uint16_t Continuing = 0x1000;

// L2CAP basic frame on CID 4 with a 3-byte payload.
const Bytes AttPdu = {0x03, 0x00, 0x04, 0x00, 0x0A, 0x01, 0x00};

TEST(ReassembleAcl, WholePduInOnePacketIsDelivered)
{
    AclReassembly state;
    auto pdu = ReassembleAcl(state, Acl(First, AttPdu));
    ASSERT_TRUE(pdu);
    EXPECT_EQ(*pdu, (Pd::Bt::L2capPdu{0x041, 0x0004, Bytes{0x0A, 0x01, 0x00}}));
    EXPECT_TRUE(state.collected.empty());
    EXPECT_EQ(state.expected, 0u);
}

TEST(ReassembleAcl, FragmentsSplitAtEveryPositionGiveTheSamePdu)
{
    for (std::size_t split = 1; split < AttPdu.size(); ++split)
    {
        AclReassembly state;
        EXPECT_FALSE(ReassembleAcl(state, Acl(First, Bytes(AttPdu.begin(), AttPdu.begin() + split))));
        auto pdu = ReassembleAcl(state, Acl(Continuing, Bytes(AttPdu.begin() + split, AttPdu.end())));
        ASSERT_TRUE(pdu) << "split " << split;
        EXPECT_EQ(pdu->payload, (Bytes{0x0A, 0x01, 0x00}));
    }
}

TEST(ReassembleAcl, EmptyFirstFragmentGivesNothingAndRefusesContinuations)
{
    AclReassembly state;
    EXPECT_FALSE(ReassembleAcl(state, Acl(First, {})));
    EXPECT_FALSE(ReassembleAcl(state, Acl(Continuing, AttPdu)));
    EXPECT_TRUE(state.collected.empty());
}

TEST(ReassembleAcl, ContinuationWithoutFirstFragmentIsDropped)
{
    AclReassembly state;
    EXPECT_FALSE(ReassembleAcl(state, Acl(Continuing, AttPdu)));
    EXPECT_TRUE(state.collected.empty());
}

TEST(ReassembleAcl, OnlyPacketBoundary01Continues)
{
    AclReassembly state;
    ASSERT_FALSE(ReassembleAcl(state, Acl(First, Bytes(AttPdu.begin(), AttPdu.begin() + 5))));
    EXPECT_FALSE(ReassembleAcl(state, Acl(0x3000, Bytes(AttPdu.begin() + 5, AttPdu.end())))); // PB 11
    EXPECT_EQ(state.collected.size(), 5u) << "the dropped packet leaves the state as it was";
    EXPECT_TRUE(ReassembleAcl(state, Acl(Continuing, Bytes(AttPdu.begin() + 5, AttPdu.end()))));
}

TEST(ReassembleAcl, NewFirstFragmentDiscardsTheIncompletePdu)
{
    AclReassembly state;
    ASSERT_FALSE(ReassembleAcl(state, Acl(First, {0x10, 0x00, 0x04, 0x00, 0x01})));
    auto pdu = ReassembleAcl(state, Acl(0x0000, AttPdu)); // PB 00 is a first fragment too
    ASSERT_TRUE(pdu);
    EXPECT_EQ(pdu->payload, (Bytes{0x0A, 0x01, 0x00}));
}

TEST(ReassembleAcl, BytesBeyondThePduAreDropped)
{
    AclReassembly state;
    Bytes data = AttPdu;
    data.insert(data.end(), {0xEE, 0xEE, 0xEE});
    auto pdu = ReassembleAcl(state, Acl(First, data));
    ASSERT_TRUE(pdu);
    EXPECT_EQ(pdu->payload, (Bytes{0x0A, 0x01, 0x00}));
    EXPECT_TRUE(state.collected.empty());
}

TEST(ReassembleAcl, LengthFieldIsClippedToTheBytesPresent)
{
    AclReassembly state;
    Bytes packet = Acl(First, AttPdu);
    packet[2] = 0xFF; // claims 255 bytes, holds 7
    auto pdu = ReassembleAcl(state, packet);
    ASSERT_TRUE(pdu);
    EXPECT_EQ(pdu->cid, 0x0004);
}

TEST(ReassembleAcl, PacketsOfThreeBytesOrFewerGiveNothing)
{
    AclReassembly state;
    EXPECT_FALSE(ReassembleAcl(state, Bytes{0x41, 0x20, 0x07}));
    EXPECT_FALSE(ReassembleAcl(state, Bytes{}));
}

TEST(FragmentL2cap, PduOf300BytesLeavesAs251ThenRest)
{
    Bytes payload(300);
    for (std::size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<std::uint8_t>(i);
    auto packets = FragmentL2cap(0x0F41, 0x0004, payload); // the handle keeps its low 12 bits
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(Bytes(packets[0].begin(), packets[0].begin() + 8),
              (Bytes{0x41, 0x2F, 251, 0, 0x2C, 0x01, 0x04, 0x00}));
    EXPECT_EQ(packets[0].size(), 4u + 251);
    EXPECT_EQ(Bytes(packets[1].begin(), packets[1].begin() + 4), (Bytes{0x41, 0x1F, 53, 0}));
    EXPECT_EQ(packets[1].size(), 4u + 53);

    AclReassembly state;
    EXPECT_FALSE(ReassembleAcl(state, packets[0]));
    auto pdu = ReassembleAcl(state, packets[1]);
    ASSERT_TRUE(pdu);
    EXPECT_EQ(pdu->payload, payload);
}

TEST(FragmentL2cap, EmptyPayloadGivesOnePacketWithTheL2capHeader)
{
    auto packets = FragmentL2cap(0x0040, 0xFFFF, {});
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0], (Bytes{0x40, 0x20, 0x04, 0x00, 0x00, 0x00, 0xFF, 0xFF}));
}

TEST(FragmentL2cap, ExactMultipleOf251MakesNoEmptyTail)
{
    auto packets = FragmentL2cap(0x0040, 0x0006, Bytes(251 * 2 - 4));
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[1].size(), 4u + 251);
}

} // namespace
