// The state of one AT connection and the answer to one line.
#pragma once

#include "tel/sim/SimFiles.h"

#include <cstdint>
#include <deque>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

namespace Pd::Tel
{

class Modem;

struct AtState
{
    explicit AtState(Modem& modem) : modem(modem) {}

    Modem& modem;
    std::int32_t cregMode = 0;
    std::int32_t cgregMode = 0;
    std::int32_t ceregMode = 0;
    std::int32_t copsFormat = 0;
    bool radioOn = true;
    std::int32_t pendingLength = 0;    // TPDU length given with "AT+CMGS="
    std::int32_t messageReference = 0; // next "+CMGS:" reference, 0..255
    SimCard sim;
    bool simPrepared = false;
    // Ids announced in "+CMT" and not yet acknowledged, oldest first: Android acknowledges in
    // the order it received them.
    std::deque<std::uint32_t> handed;
    // Last values reported unsolicited; -1 makes a session's first change event report them.
    std::int32_t lastRegistration = 0;
    std::int32_t lastAccessTechnology = 0;
    std::int32_t lastSignal = 0;
    // The command of the line being answered that tells Android takes messages now ("+CNMI"),
    // or empty.
    std::string_view takesMessages;
};

// One command's answer: its information lines, or the final result code that ends the whole
// line in error ("+CME ERROR: 4").
using AtResult = std::expected<std::vector<std::string>, std::string>;

struct AtReply
{
    std::vector<std::string> lines; // without line ends
    bool awaitPdu = false;          // "AT+CMGS=": prompt for the PDU and collect it
};

} // namespace Pd::Tel
