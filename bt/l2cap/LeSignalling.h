// The LE signalling channel (L2CAP CID 5) of a link, which takes no command at all: it rejects
// every command as not understood and ignores the responses and rejects it may receive.
#pragma once

#include "bt/hci/Bytes.h"

#include <optional>

namespace Pd::Bt
{

inline constexpr std::uint16_t LeSignallingCid = 0x0005;

// The answer to one signalling PDU: a Command Reject (command not understood) with the PDU's
// identifier, or none for a PDU shorter than a command header (code, identifier, length) and
// for a Command Reject, a Connection Parameter Update Response or a credit-based connection
// response.
std::optional<Bytes> AnswerLeSignalling(ByteView pdu);

} // namespace Pd::Bt
