#include "bt/l2cap/LeSignalling.h"

namespace Pd::Bt
{
namespace
{

constexpr std::uint8_t CommandReject = 0x01;
constexpr std::uint8_t ConnectionParameterUpdateResponse = 0x13;
constexpr std::uint8_t LeCreditBasedConnectionResponse = 0x15;
constexpr std::uint8_t CreditBasedConnectionResponse = 0x18;
constexpr std::uint16_t CommandNotUnderstood = 0x0000;

} // namespace

std::optional<Bytes> AnswerLeSignalling(ByteView pdu)
{
    if (pdu.size() < 4)
        return std::nullopt;
    switch (pdu[0])
    {
    case CommandReject: // answering a reject could go back and forth for ever
    case ConnectionParameterUpdateResponse:
    case LeCreditBasedConnectionResponse:
    case CreditBasedConnectionResponse:
        return std::nullopt;
    default:
        break;
    }
    Bytes reject{CommandReject, pdu[1]};
    AppendLe16(reject, 2);
    AppendLe16(reject, CommandNotUnderstood);
    return reject;
}

} // namespace Pd::Bt
