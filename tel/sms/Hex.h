// Upper-case hexadecimal text, the form in which SMS PDUs and SIM file bodies travel in AT lines.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace Pd::Tel
{

// Appends the octet as two upper-case hex digits.
void AppendHexByte(std::string& text, std::uint8_t octet);

// Appends every octet as two upper-case hex digits.
void AppendHexBytes(std::string& text, std::span<const std::uint8_t> octets);

} // namespace Pd::Tel
