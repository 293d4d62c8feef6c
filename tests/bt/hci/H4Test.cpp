#include "bt/hci/H4.h"

#include <gtest/gtest.h>

#include <numeric>
#include <utility>
#include <vector>

namespace
{

using Pd::Bt::Bytes;
using Pd::Bt::ByteView;
using Pd::Bt::H4Deframer;
using enum Pd::Bt::Hci::PacketType;
using Packets = std::vector<std::pair<Pd::Bt::Hci::PacketType, Bytes>>;

struct Deframed
{
    Packets packets;
    bool kept = true; // false once the deframer refused the stream
};

// Feeds the stream cut at the given positions, as separate receives would bring it.
Deframed Deframe(const Bytes& stream, std::vector<std::size_t> cuts = {})
{
    Deframed result;
    H4Deframer deframer([&](Pd::Bt::Hci::PacketType type, ByteView bytes) {
        result.packets.emplace_back(type, Bytes(bytes.begin(), bytes.end()));
    });
    cuts.push_back(stream.size());
    std::size_t at = 0;
    for (std::size_t cut : cuts)
    {
        result.kept = deframer.Feed(ByteView(stream).subspan(at, cut - at));
        if (!result.kept)
            break;
        at = cut;
    }
    return result;
}

TEST(H4Deframer, PacketsComeOutWholeHoweverTheStreamIsCut)
{
    struct StreamCase
    {
        const char* what;
        Bytes stream;
        Packets packets;
    };
    const StreamCase cases[] = {
        {"two commands in one receive",
         {0x01, 0x03, 0x0C, 0x00, 0x01, 0x13, 0x0C, 0x03, 'a', 'b', 'c'},
         {{Command, {0x03, 0x0C, 0x00}}, {Command, {0x13, 0x0C, 0x03, 'a', 'b', 'c'}}}},
        {"zero-length event and ACL packet",
         {0x04, 0x0E, 0x00, 0x02, 0x40, 0x20, 0x00, 0x00},
         {{Event, {0x0E, 0x00}}, {Acl, {0x40, 0x20, 0x00, 0x00}}}},
        {"one-byte SCO length, two-byte ACL length, one-byte event length",
         {0x03, 0x01, 0x00, 0x02, 0xAA, 0xBB, 0x02, 0x40, 0x00, 0x02, 0x00, 0xCC, 0xDD, 0x04, 0x3E, 0x01,
          0xEE},
         {{Sco, {0x01, 0x00, 0x02, 0xAA, 0xBB}},
          {Acl, {0x40, 0x00, 0x02, 0x00, 0xCC, 0xDD}},
          {Event, {0x3E, 0x01, 0xEE}}}},
        {"ISO length 0xC001 with the reserved top bits set is 1",
         {0x05, 0x01, 0x00, 0x01, 0xC0, 0x77, 0x01, 0x03, 0x0C, 0x00},
         {{Iso, {0x01, 0x00, 0x01, 0xC0, 0x77}}, {Command, {0x03, 0x0C, 0x00}}}},
    };
    for (const StreamCase& c : cases)
    {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Deframe(c.stream).packets, c.packets);
        for (std::size_t split = 1; split < c.stream.size(); ++split)
            EXPECT_EQ(Deframe(c.stream, {split}).packets, c.packets) << "split at " << split;
        std::vector<std::size_t> everyByte(c.stream.size() - 1);
        std::iota(everyByte.begin(), everyByte.end(), 1);
        EXPECT_EQ(Deframe(c.stream, everyByte).packets, c.packets) << "byte by byte";
    }
}

TEST(H4Deframer, BadTypeBytesEndTheStreamAndDropTheRest)
{
    for (std::uint8_t bad : {0x00, 0x06, 0xFF})
    {
        Deframed result = Deframe({0x01, 0x03, 0x0C, 0x00, bad, 0x01, 0x03, 0x0C, 0x00});
        EXPECT_FALSE(result.kept) << int(bad);
        EXPECT_EQ(result.packets, (Packets{{Command, {0x03, 0x0C, 0x00}}})) << int(bad);
    }
}

TEST(H4Deframer, LargestAclPacketIsAssembledAcrossReceives)
{
    Bytes stream = {0x02, 0x40, 0x00, 0xFF, 0xFF};
    stream.resize(5 + 0xFFFF, 0x5A);
    std::vector<std::size_t> cuts;
    for (std::size_t at = 4096; at < stream.size(); at += 4096)
        cuts.push_back(at);
    Deframed result = Deframe(stream, cuts);
    ASSERT_EQ(result.packets.size(), 1u);
    EXPECT_EQ(result.packets[0].second, Bytes(stream.begin() + 1, stream.end()));
}

} // namespace
