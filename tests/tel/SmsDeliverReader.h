// Reads an SMS-DELIVER PDU in hex back into its fields, independently of the encoder, the way a
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

struct Concatenation
{
    std::uint8_t reference = 0;
    std::uint8_t total = 0;
    std::uint8_t sequence = 0;
};

struct SmsDeliver
{
    std::uint8_t firstOctet = 0;
    std::uint8_t addressType = 0;
    std::string originator; // digits, or the unpacked alphanumeric characters
    std::uint8_t protocolId = 0;
    std::uint8_t dataCoding = 0;
    Octets timestamp;
    std::optional<std::uint16_t> destinationPort;
    std::optional<std::uint16_t> originPort;
    std::optional<Concatenation> concatenation;
    std::size_t userDataLength = 0; // TP-UDL
    Octets data;                    // user data after the header
};

// Nothing when the text is not even-length upper-case hex.
std::optional<Octets> FromHex(std::string_view hex);

// The fields, or the reason the PDU does not read as an 8-bit SMS-DELIVER with a user-data
// header whose every length agrees with the octets that are there.
struct ReadResult
{
    std::optional<SmsDeliver> pdu;
    std::string error;
};
ReadResult ReadSmsDeliver(std::string_view hex);

// Unpacks count GSM 7-bit septets.
std::string UnpackSeptets(const Octets& packed, std::size_t count);

} // namespace Pd::Tel::Testing
