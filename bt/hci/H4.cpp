#include "bt/hci/H4.h"

#include <algorithm>
#include <utility>

namespace Pd::Bt
{
namespace
{

// Header length with the type byte; 0 for a byte that is no packet type.
std::size_t HeaderLength(std::uint8_t type)
{
    switch (static_cast<Hci::PacketType>(type))
    {
    case Hci::PacketType::Command:
    case Hci::PacketType::Sco:
        return 4; // opcode or handle (2), length (1)
    case Hci::PacketType::Acl:
    case Hci::PacketType::Iso:
        return 5; // handle (2), length (2)
    case Hci::PacketType::Event:
        return 3; // code (1), length (1)
    }
    return 0;
}

// Payload length from a complete header.
std::size_t PayloadLength(const Bytes& packet)
{
    switch (static_cast<Hci::PacketType>(packet[0]))
    {
    case Hci::PacketType::Command:
    case Hci::PacketType::Sco:
        return packet[3];
    case Hci::PacketType::Acl:
        return packet[3] | packet[4] << 8;
    case Hci::PacketType::Iso:
        return (packet[3] | packet[4] << 8) & 0x3FFF; // the top two bits are reserved
    case Hci::PacketType::Event:
        return packet[2];
    }
    return 0;
}

} // namespace

bool H4Deframer::Feed(ByteView bytes)
{
    while (!bytes.empty())
    {
        if (packet_.empty())
        {
            if (HeaderLength(bytes[0]) == 0)
                return false;
            packet_.push_back(bytes[0]);
            bytes = bytes.subspan(1);
            continue;
        }
        std::size_t header = HeaderLength(packet_[0]);
        std::size_t needed = packet_.size() < header ? header : header + PayloadLength(packet_);
        std::size_t take = std::min(needed - packet_.size(), bytes.size());
        packet_.insert(packet_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(take));
        bytes = bytes.subspan(take);
        if (packet_.size() >= header && packet_.size() == header + PayloadLength(packet_))
        {
            Bytes packet = std::exchange(packet_, Bytes());
            handler_(static_cast<Hci::PacketType>(packet[0]), ByteView(packet).subspan(1));
        }
    }
    return true;
}

Bytes H4Frame(Hci::PacketType type, ByteView bytes)
{
    Bytes framed;
    framed.reserve(bytes.size() + 1);
    framed.push_back(static_cast<std::uint8_t>(type));
    Append(framed, bytes);
    return framed;
}

} // namespace Pd::Bt
