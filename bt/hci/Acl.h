// ACL data packets and the L2CAP basic frames they carry: reassembly of Android's fragments
// into whole PDUs, and fragmentation of a link's PDUs into LE-sized ACL packets.
#pragma once

#include "bt/hci/Bytes.h"

#include <optional>

namespace Pd::Bt
{

// Reassembly state of one connection.
struct AclReassembly
{
    Bytes collected;
    std::size_t expected = 0; // PDU length with its 4-byte L2CAP header; 0 = not yet known
    std::uint16_t handle = 0; // 12 bits
};

// One whole L2CAP PDU.
struct L2capPdu
{
    std::uint16_t handle = 0;
    std::uint16_t cid = 0;
    Bytes payload;

    friend bool operator==(const L2capPdu&, const L2capPdu&) = default;
};

// The fixed L2CAP channels of an LE link.
inline constexpr std::uint16_t AttCid = 0x0004;
inline constexpr std::uint16_t LeSignallingCid = 0x0005;
inline constexpr std::uint16_t SmpCid = 0x0006;

// The LE ACL data packet length the controller reports; outgoing fragments never exceed it.
inline constexpr std::size_t LeAclDataLength = 251;

// Adds one ACL packet (handle and flags, length, data) to the connection's state; returns the
// PDU it completes. Continuations without a PDU in progress are dropped; a first fragment
// discards a PDU still in progress; bytes beyond the PDU's length are dropped. The collected
// bytes never exceed one PDU (65,539 bytes) plus one packet's data.
std::optional<L2capPdu> ReassembleAcl(AclReassembly& state, ByteView packet);

// The ACL packets (handle and flags, length, data) that carry one L2CAP PDU for a connection.
std::vector<Bytes> FragmentL2cap(std::uint16_t handle, std::uint16_t cid, ByteView payload);

} // namespace Pd::Bt
