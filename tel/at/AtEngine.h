// The AT command engine: one line from Android's radio interface in, its answer lines out.
// Platform-free; it reaches the modem only through an AtState's modem reference. Every text comes
// from the guest and is handled as untrusted.
//
// The commands it knows are registered once, in the table of AtCommands.cpp, each with the forms
// it has: the action form ("+CSQ"), the set form ("+CREG=2"), the read form ("+CREG?") and the
// test form ("+CREG=?").
#pragma once

#include "tel/at/AtState.h"
#include "tel/at/ModemState.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Pd::Tel::AtEngine
{

// The answer to a command the engine does not know, or a form of one it does not serve.
inline constexpr std::string_view CmeUnknown = "+CME ERROR: 4";

// One line ("AT..."), which may hold several commands; "AT+CMGS=" asks for the PDU that follows.
AtReply HandleLine(AtState& state, std::string_view line);
// One command of a line, without "AT" and without the ';' that separates it from the next.
AtResult HandleCommand(AtState& state, std::string_view command);
// The PDU text that follows "AT+CMGS=": sent when it agrees with the length given there.
AtReply SubmitPdu(AtState& state, std::string_view text);

// The unsolicited reports: a new message ("+CMT"), registration and signal quality.
std::vector<std::string> FormatNewMessage(AtState& state, std::string_view pdu, std::uint32_t index);
void FormatRegistration(const ModemState& snapshot, std::string_view prefix, std::int32_t mode,
                        std::vector<std::string>& lines);
std::string FormatSignalQuality(const ModemState& snapshot);

// The name of every command in the table ("+CNMA", "S0", "E"), in table order.
std::vector<std::string_view> KnownCommands();

// The parameters of a set command ("+CREG=2" gives {2}); fields that are not numbers read as 0.
std::vector<std::int32_t> ParseIntegers(std::string_view command);

} // namespace Pd::Tel::AtEngine
