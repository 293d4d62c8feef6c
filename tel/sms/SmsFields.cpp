#include "tel/sms/SmsFields.h"

#include "core/Hex.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace Pd::Tel
{
namespace
{

constexpr std::uint8_t TypeInternational = 0x91; // international number, ISDN numbering plan
constexpr std::uint8_t TypeUnknown = 0x81;       // unknown type, ISDN numbering plan
constexpr std::uint8_t TypeAlphanumeric = 0xD0;  // GSM 7-bit default alphabet
constexpr std::size_t MaxDigits = 20;            // the address value holds 10 octets
constexpr std::size_t MaxCharacters = 11;        // 77 bits: 10 octets

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Letters, digits, the blank and '?' have the same code in ASCII and in the GSM 7-bit default
// alphabet; everything else becomes '?'.
char ToGsmSafe(char c)
{
    bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    return letter || IsDigit(c) || c == ' ' ? c : '?';
}

std::string EncodeNumber(std::string_view digits, std::uint8_t type)
{
    std::string field;
    Core::AppendHexByte(field, static_cast<std::uint8_t>(digits.size()));
    Core::AppendHexByte(field, type);
    for (std::size_t i = 0; i < digits.size(); i += 2)
    {
        std::uint8_t low = static_cast<std::uint8_t>(digits[i] - '0');
        std::uint8_t high = i + 1 < digits.size() ? static_cast<std::uint8_t>(digits[i + 1] - '0') : 0x0F;
        Core::AppendHexByte(field, static_cast<std::uint8_t>(high << 4 | low));
    }
    return field;
}

// Packs 7-bit characters, each above the bits already held, least significant bits first.
std::vector<std::uint8_t> PackSeptets(std::string_view characters)
{
    std::vector<std::uint8_t> packed;
    std::uint32_t bits = 0;
    int held = 0;
    for (char c : characters)
    {
        bits |= (static_cast<std::uint32_t>(c) & 0x7F) << held;
        held += 7;
        while (held >= 8)
        {
            packed.push_back(static_cast<std::uint8_t>(bits));
            bits >>= 8;
            held -= 8;
        }
    }
    // Only a partly filled octet follows: after 8, 16 ... characters nothing is left, and an
    // extra zero octet would shift every later field of the PDU.
    if (held > 0)
        packed.push_back(static_cast<std::uint8_t>(bits));
    return packed;
}

std::string EncodeAlphanumeric(std::string_view text)
{
    std::string characters;
    for (char c : text.substr(0, MaxCharacters))
        characters.push_back(ToGsmSafe(c));
    if (characters.empty())
        characters = "MMS";

    std::string field;
    // The length counts the semi-octets that hold septets: 7 bits each, rounded up to 4.
    Core::AppendHexByte(field, static_cast<std::uint8_t>((7 * characters.size() + 3) / 4));
    Core::AppendHexByte(field, TypeAlphanumeric);
    Core::AppendHexBytes(field, PackSeptets(characters));
    return field;
}

// v as two decimal semi-octets, tens in the low nibble.
std::uint8_t SwappedDecimal(int value)
{
    // Out-of-range values (a garbled clock) still give valid digits instead of a wrapped octet.
    int v = ((value % 100) + 100) % 100;
    return static_cast<std::uint8_t>(v / 10 + 16 * (v % 10));
}

} // namespace

std::string EncodeOriginator(std::string_view originator)
{
    bool international = originator.starts_with('+');
    std::string_view digits = international ? originator.substr(1) : originator;
    if (!digits.empty() && digits.size() <= MaxDigits && std::ranges::all_of(digits, IsDigit))
        return EncodeNumber(digits, international ? TypeInternational : TypeUnknown);
    return EncodeAlphanumeric(originator);
}

std::string EncodeTimestamp(const SmsTime& time)
{
    std::string field;
    for (int value : {time.year, time.month, time.day, time.hour, time.minute, time.second})
        Core::AppendHexByte(field, SwappedDecimal(value));
    Core::AppendHexByte(field, 0); // time zone
    return field;
}

} // namespace Pd::Tel
