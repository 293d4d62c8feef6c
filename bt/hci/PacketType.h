// The H4 packet-type byte that precedes every HCI packet on the byte stream.
#pragma once

#include <cstdint>

namespace Pd::Bt::Hci
{

enum class PacketType : std::uint8_t
{
    Command = 1,
    Acl = 2,
    Sco = 3,
    Event = 4,
    Iso = 5,
};

} // namespace Pd::Bt::Hci
