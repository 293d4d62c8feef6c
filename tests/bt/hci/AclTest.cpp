#include "bt/hci/Acl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

namespace
{

using namespace Pd::Bt;

constexpr std::uint16_t First = 0x2000;
constexpr std::uint16_t Continuing = 0x1000;

// An ACL packet for handle 0x041 with the packet-boundary flag and the data.
Bytes Acl(std::uint16_t pb, const Bytes& data)
{
    std::uint16_t field = static_cast<std::uint16_t>(0x041 | pb);
    // Built at its full size at once: GCC 12 takes an insert into a four-byte vector for an
    // overflow of it (-Warray-bounds).
    Bytes packet(4 + data.size());
    packet[0] = static_cast<std::uint8_t>(field);
    packet[1] = static_cast<std::uint8_t>(field >> 8);
    packet[2] = static_cast<std::uint8_t>(data.size());
    packet[3] = static_cast<std::uint8_t>(data.size() >> 8);
    std::copy(data.begin(), data.end(), packet.begin() + 4);
    return packet;
}

// L2CAP basic frame on CID 4 with a 3-byte payload, and pieces of it.
const Bytes AttPdu = {0x03, 0x00, 0x04, 0x00, 0x0A, 0x01, 0x00};
const L2capPdu Delivered{0x041, 0x0004, {0x0A, 0x01, 0x00}};

Bytes Part(std::size_t from, std::size_t to = AttPdu.size())
{
    return Bytes(AttPdu.begin() + from, AttPdu.begin() + to);
}

TEST(ReassembleAcl, PacketSequencesGiveThePduOnlyWithTheirLastPacket)
{
    struct SequenceCase
    {
        const char* what;
        std::vector<Bytes> packets;
        std::optional<L2capPdu> last;
    };
    Bytes clipped = Acl(First, AttPdu);
    clipped[2] = 0xFF; // claims 255 bytes, holds 7
    Bytes withExtra = AttPdu;
    withExtra.insert(withExtra.end(), {0xEE, 0xEE, 0xEE});
    const SequenceCase cases[] = {
        {"whole PDU in one packet", {Acl(First, AttPdu)}, Delivered},
        {"bytes beyond the PDU are dropped", {Acl(First, withExtra)}, Delivered},
        {"length field clipped to the bytes present", {clipped}, Delivered},
        {"empty first fragment refuses continuations",
         {Acl(First, {}), Acl(Continuing, AttPdu)},
         std::nullopt},
        {"continuation without first fragment", {Acl(Continuing, AttPdu)}, std::nullopt},
        {"only boundary 01 continues",
         {Acl(First, Part(0, 5)), Acl(0x3000, Part(5)), Acl(Continuing, Part(5))},
         Delivered},
        {"boundary 00 starts anew",
         {Acl(First, {0x10, 0x00, 0x04, 0x00, 0x01}), Acl(0x0000, AttPdu)},
         Delivered},
        {"three bytes or fewer", {{0x41, 0x20, 0x07}, {}}, std::nullopt},
    };
    for (const SequenceCase& c : cases)
    {
        SCOPED_TRACE(c.what);
        AclReassembly state;
        for (std::size_t i = 0; i + 1 < c.packets.size(); ++i)
            EXPECT_FALSE(ReassembleAcl(state, c.packets[i])) << "packet " << i;
        EXPECT_EQ(ReassembleAcl(state, c.packets.back()), c.last);
    }
}

TEST(ReassembleAcl, FragmentsSplitAtEveryPositionGiveTheSamePdu)
{
    for (std::size_t split = 1; split < AttPdu.size(); ++split)
    {
        AclReassembly state;
        EXPECT_FALSE(ReassembleAcl(state, Acl(First, Part(0, split))));
        EXPECT_EQ(ReassembleAcl(state, Acl(Continuing, Part(split))), Delivered) << "split " << split;
    }
}

TEST(FragmentL2cap, PdusLeaveIn251ByteFragmentsOfTheHandlesLow12Bits)
{
    struct FragmentCase
    {
        std::uint16_t handle;
        std::uint16_t cid;
        std::size_t payloadSize;
        std::vector<Bytes> headers; // ACL header, then the L2CAP header in the first fragment
    };
    const FragmentCase cases[] = {
        {0x0F41, 0x0004, 300, {{0x41, 0x2F, 251, 0, 0x2C, 0x01, 0x04, 0x00}, {0x41, 0x1F, 53, 0}}},
        {0x0040, 0xFFFF, 0, {{0x40, 0x20, 4, 0, 0x00, 0x00, 0xFF, 0xFF}}},
        {0x0040, 0x0006, 251 * 2 - 4, {{0x40, 0x20, 251, 0, 0xF2, 0x01, 0x06, 0x00}, {0x40, 0x10, 251, 0}}},
    };
    for (const FragmentCase& c : cases)
    {
        Bytes payload(c.payloadSize);
        for (std::size_t i = 0; i < payload.size(); ++i)
            payload[i] = static_cast<std::uint8_t>(i);
        auto packets = FragmentL2cap(c.handle, c.cid, payload);
        ASSERT_EQ(packets.size(), c.headers.size()) << c.payloadSize;
        AclReassembly state;
        std::optional<L2capPdu> pdu;
        for (std::size_t i = 0; i < packets.size(); ++i)
        {
            const Bytes& header = c.headers[i];
            EXPECT_EQ(Bytes(packets[i].begin(), packets[i].begin() + header.size()), header);
            EXPECT_EQ(packets[i].size(), 4u + header[2]);
            pdu = ReassembleAcl(state, packets[i]);
        }
        EXPECT_EQ(pdu, (L2capPdu{static_cast<std::uint16_t>(c.handle & 0x0FFF), c.cid, payload}));
    }
}

} // namespace
