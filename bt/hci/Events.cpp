#include "bt/hci/Events.h"

#include <algorithm>

namespace Pd::Bt::Hci
{

Bytes CommandCompleteEvent(std::uint16_t opcode, std::uint8_t status, ByteView returnParameters)
{
    Bytes parameters{0x01}; // Num_HCI_Command_Packets: one further command is always welcome
    AppendLe16(parameters, opcode);
    parameters.push_back(status);
    if (status == Status::Success)
        Append(parameters, returnParameters);
    return EventPacket(Event::CommandComplete, parameters);
}

Bytes CommandStatusEvent(std::uint16_t opcode, std::uint8_t status)
{
    Bytes parameters{status, 0x01};
    AppendLe16(parameters, opcode);
    return EventPacket(Event::CommandStatus, parameters);
}

Bytes EventPacket(std::uint8_t code, ByteView parameters)
{
    ByteView sent = parameters.first(std::min<std::size_t>(parameters.size(), 255));
    Bytes packet{code, static_cast<std::uint8_t>(sent.size())};
    Append(packet, sent);
    return packet;
}

Bytes LeMetaEvent(std::uint8_t subevent, ByteView parameters)
{
    Bytes withSubevent{subevent};
    Append(withSubevent, parameters);
    return EventPacket(Event::LeMeta, withSubevent);
}

} // namespace Pd::Bt::Hci
