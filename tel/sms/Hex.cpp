#include "tel/sms/Hex.h"

#include "core/Hex.h"

namespace Pd::Tel
{

void AppendHexByte(std::string& text, std::uint8_t octet)
{
    text.push_back(Core::UpperHexDigits[octet >> 4]);
    text.push_back(Core::UpperHexDigits[octet & 0x0F]);
}

void AppendHexBytes(std::string& text, std::span<const std::uint8_t> octets)
{
    text.reserve(text.size() + 2 * octets.size());
    for (std::uint8_t octet : octets)
        AppendHexByte(text, octet);
}

} // namespace Pd::Tel
