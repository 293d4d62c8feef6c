// Reads an SMS-DELIVER PDU in hex back into its fields, independently of the encoder and as a
// receiving phone would. Shared by the unit tests and the fuzz target.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Pd::Tel::Testing
{

using Octets = std::vector<std::uint8_t>;

struct SmsDeliver
{
    std::uint8_t addressType = 0;
    std::string originator; // digits, or the unpacked alphanumeric characters
    Octets timestamp;
    Octets header; // user-data header information elements
    Octets data;   // user data after the header
};

std::optional<Octets> FromHex(std::string_view hex);

// Nothing unless the text is an 8-bit SMS-DELIVER with a user-data header whose every length
// agrees with the octets that are there.
std::optional<SmsDeliver> ReadSmsDeliver(std::string_view hex);

} // namespace Pd::Tel::Testing
