#include "bt/att/AttPdu.h"

namespace Pd::Bt::Att
{

bool IsRequest(std::uint8_t opcode)
{
    switch (opcode)
    {
    case ErrorResponse:
    case ExchangeMtuResponse:
    case FindInformationResponse:
    case FindByTypeValueResponse:
    case ReadByTypeResponse:
    case ReadResponse:
    case ReadBlobResponse:
    case ReadMultipleResponse:
    case ReadByGroupTypeResponse:
    case WriteResponse:
    case PrepareWriteResponse:
    case ExecuteWriteResponse:
    case HandleValueNotification:
    case HandleValueIndication:
    case HandleValueConfirmation:
    case ReadMultipleVariableResponse:
    case MultipleHandleValueNotification:
        return false;
    default:
        return (opcode & CommandFlag) == 0;
    }
}

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

std::size_t ShortestPdu(std::uint8_t opcode)
{
    switch (opcode)
    {
    case ExchangeMtuRequest:
    case ReadRequest:
    case WriteRequest:
    case WriteCommand:
        return 3;
    case FindInformationRequest:
    case ReadByTypeRequest:
    case ReadBlobRequest:
    case ReadByGroupTypeRequest:
    case PrepareWriteRequest:
        return 5;
    case FindByTypeValueRequest:
        return 7;
    case ExecuteWriteRequest:
        return 2;
    default:
        return 1;
    }
}

} // namespace Pd::Bt::Att
