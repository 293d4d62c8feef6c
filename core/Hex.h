// Hexadecimal digits and text: digests in lower case, and the upper-case form in which SMS PDUs
// and SIM file bodies travel in AT lines. Free of Windows, so that the byte-level parsers share
// them.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace Pd::Core
{

inline constexpr char LowerHexDigits[] = "0123456789abcdef";
inline constexpr char UpperHexDigits[] = "0123456789ABCDEF";

// The value of one hexadecimal digit in either case; -1 for anything else.
template <class Char> constexpr int HexValue(Char c)
{
    if (c >= '0' && c <= '9')
        return static_cast<int>(c - '0');
    if (c >= 'a' && c <= 'f')
        return static_cast<int>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F')
        return static_cast<int>(c - 'A' + 10);
    return -1;
}

// The bytes as two lower-case hexadecimal digits each.
inline std::wstring HexLower(std::span<const std::uint8_t> bytes)
{
    std::wstring text;
    text.reserve(bytes.size() * 2);
    for (std::uint8_t byte : bytes)
    {
        text.push_back(static_cast<wchar_t>(LowerHexDigits[byte >> 4]));
        text.push_back(static_cast<wchar_t>(LowerHexDigits[byte & 0x0F]));
    }
    return text;
}

// Appends the octet as two upper-case hexadecimal digits.
inline void AppendHexByte(std::string& text, std::uint8_t octet)
{
    text.push_back(UpperHexDigits[octet >> 4]);
    text.push_back(UpperHexDigits[octet & 0x0F]);
}

// Appends every octet as two upper-case hexadecimal digits.
inline void AppendHexBytes(std::string& text, std::span<const std::uint8_t> octets)
{
    text.reserve(text.size() + 2 * octets.size());
    for (std::uint8_t octet : octets)
        AppendHexByte(text, octet);
}

} // namespace Pd::Core
