// The LE signalling channel (L2CAP CID 5) of a link, which takes no command at all: it rejects
// every command as not understood and drops the responses and rejects it may receive, since it
// never sent a request they could answer.
#pragma once

#include "bt/hci/Acl.h"

#include <optional>

namespace Pd::Bt
{

// The answer to one signalling PDU: a Command Reject (command not understood) with the PDU's
// identifier, or none for a PDU shorter than a command header (code, identifier, length) and
// for a response: Command Reject, Disconnection Response, Connection Parameter Update Response
// and the credit-based connection and reconfigure responses.
std::optional<Bytes> AnswerLeSignalling(ByteView pdu);

} // namespace Pd::Bt
