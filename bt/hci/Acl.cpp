#include "bt/hci/Acl.h"

#include <algorithm>

namespace Pd::Bt
{
namespace
{

constexpr std::uint16_t ContinuationFlag = 0x1000; // PB bit 12: 01 and 11
constexpr std::uint16_t PbMask = 0x3000;
constexpr std::uint16_t PbContinuing = 0x1000;     // 01: continuing fragment
constexpr std::uint16_t PbFirstFlushable = 0x2000; // 10: first automatically flushable fragment
constexpr std::size_t L2capHeader = 4;

} // namespace

std::optional<L2capPdu> ReassembleAcl(AclReassembly& state, ByteView packet)
{
    if (packet.size() <= 3)
        return std::nullopt;
    std::uint16_t field = ReadLe16(packet, 0);
    std::size_t length = std::min<std::size_t>(ReadLe16(packet, 2), packet.size() - 4);
    ByteView data = packet.subspan(4, length);

    if (field & ContinuationFlag)
    {
        if ((field & PbMask) != PbContinuing || state.collected.empty())
            return std::nullopt;
        Append(state.collected, data);
    }
    else
    {
        state.collected.assign(data.begin(), data.end());
        state.handle = field & 0x0FFF;
        state.expected = 0;
    }

    if (state.expected == 0)
    {
        if (state.collected.size() < L2capHeader)
            return std::nullopt;
        state.expected = ReadLe16(state.collected, 0) + L2capHeader;
    }
    if (state.collected.size() < state.expected)
        return std::nullopt;

    L2capPdu pdu{state.handle, ReadLe16(state.collected, 2),
                 Bytes(state.collected.begin() + L2capHeader,
                       state.collected.begin() + static_cast<std::ptrdiff_t>(state.expected))};
    state.collected.clear();
    state.expected = 0;
    return pdu;
}

std::vector<Bytes> FragmentL2cap(std::uint16_t handle, std::uint16_t cid, ByteView payload)
{
    Bytes pdu;
    pdu.reserve(payload.size() + L2capHeader);
    AppendLe16(pdu, static_cast<std::uint16_t>(payload.size()));
    AppendLe16(pdu, cid);
    Append(pdu, payload);

    std::vector<Bytes> packets;
    for (std::size_t at = 0; at < pdu.size(); at += LeAclDataLength)
    {
        std::size_t piece = std::min(LeAclDataLength, pdu.size() - at);
        Bytes packet;
        packet.reserve(piece + 4);
        AppendLe16(packet, static_cast<std::uint16_t>((handle & 0x0FFF) |
                                                      (at == 0 ? PbFirstFlushable : PbContinuing)));
        AppendLe16(packet, static_cast<std::uint16_t>(piece));
        Append(packet, ByteView(pdu).subspan(at, piece));
        packets.push_back(std::move(packet));
    }
    return packets;
}

} // namespace Pd::Bt
