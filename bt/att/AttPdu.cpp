#include "bt/att/AttPdu.h"

namespace Pd::Bt::Att
{

Bytes ErrorResponseFor(std::uint8_t request, std::uint16_t handle, std::uint8_t code)
{
    Bytes pdu{ErrorResponse, request};
    AppendLe16(pdu, handle);
    pdu.push_back(code);
    return pdu;
}

std::optional<Bytes> ErrorAnswer(ByteView pdu, std::uint8_t code)
{
    if (pdu.empty() || !IsRequest(pdu[0]))
        return std::nullopt;
    return ErrorResponseFor(pdu[0], 0x0000, code);
}

} // namespace Pd::Bt::Att
