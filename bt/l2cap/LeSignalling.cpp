#include "bt/l2cap/LeSignalling.h"

namespace Pd::Bt
{
namespace
{

constexpr std::uint8_t CommandReject = 0x01;
constexpr std::uint8_t DisconnectionResponse = 0x07;
constexpr std::uint8_t ConnectionParameterUpdateResponse = 0x13;
constexpr std::uint8_t LeCreditBasedConnectionResponse = 0x15;
constexpr std::uint8_t CreditBasedConnectionResponse = 0x18;
constexpr std::uint8_t CreditBasedReconfigureResponse = 0x1A;
constexpr std::uint16_t CommandNotUnderstood = 0x0000;

// Responses answer requests this side never sends; a reject would answer a command, which they
// are not, so they are dropped.
bool IsResponse(std::uint8_t code)
{
    switch (code)
    {
    case CommandReject: // answering a reject could also go back and forth for ever
    case DisconnectionResponse:
    case ConnectionParameterUpdateResponse:
    case LeCreditBasedConnectionResponse:
    case CreditBasedConnectionResponse:
    case CreditBasedReconfigureResponse:
        return true;
    default:
        return false;
    }
}

} // namespace

std::optional<Bytes> AnswerLeSignalling(ByteView pdu)
{
    if (pdu.size() < 4 || IsResponse(pdu[0]))
        return std::nullopt;
    Bytes reject{CommandReject, pdu[1]};
    AppendLe16(reject, 2);
    AppendLe16(reject, CommandNotUnderstood);
    return reject;
}

} // namespace Pd::Bt
