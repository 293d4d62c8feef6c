// H4 framing: splits the byte stream from Android into HCI packets and frames outgoing ones.
#pragma once

#include "bt/hci/Bytes.h"
#include "bt/hci/PacketType.h"

#include <functional>

namespace Pd::Bt
{

// Receives one complete packet: its type and its bytes without the type byte.
using PacketHandler = std::function<void(Hci::PacketType, ByteView)>;

// Reassembles H4 packets across receive calls. A packet is at most 5 header bytes plus
// 65,535 payload bytes, so the partial packet it keeps stays bounded.
class H4Deframer
{
public:
    explicit H4Deframer(PacketHandler handler) : handler_(std::move(handler)) {}

    // Feeds received bytes; calls the handler once per complete packet, in stream order.
    // Returns false on a packet-type byte outside 1..5: the stream cannot be resynchronised,
    // and that byte and the rest of the input are dropped.
    bool Feed(ByteView bytes);

    // Drops the partial packet (for teardown).
    void Clear() { packet_ = Bytes(); }

private:
    PacketHandler handler_;
    Bytes packet_; // the packet being assembled, type byte included
};

// The type byte followed by the packet bytes.
Bytes H4Frame(Hci::PacketType type, ByteView bytes);

} // namespace Pd::Bt
