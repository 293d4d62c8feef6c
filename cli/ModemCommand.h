// What the modem command shows of a stored SMS.
#pragma once

#include <string>
#include <string_view>

namespace Pd::Cli
{

// Both empty when the PDU is no SMS-DELIVER (or ends before its user data).
struct PduSummary
{
    std::string timestamp; // "2024-03-12 10:45:36"
    std::string kind;      // "text", "MMS notice" or "port {}", with " part {}/{}" when concatenated
};

// Reads a stored PDU given in hexadecimal; every octet it reads is checked against the PDU's end.
PduSummary DescribeSmsPdu(std::string_view pduHex);

} // namespace Pd::Cli
