#include "tel/sms/SubmitPdu.h"

#include "core/Hex.h"

#include <cstdint>
#include <span>
#include <vector>

namespace Pd::Tel
{
namespace
{

constexpr std::uint8_t MessageTypeMask = 0x03;
constexpr std::uint8_t SmsSubmit = 0x01;
constexpr std::size_t MaxAddressDigits = 20;

// Octets of TP-VP by TP-VPF (bits 3-4 of the first octet): none, enhanced, relative, absolute.
constexpr std::size_t ValidityLength[] = {0, 7, 1, 7};

// The octets of even-length hex text; none for anything else.
std::vector<std::uint8_t> Octets(std::string_view hex)
{
    std::vector<std::uint8_t> octets;
    if (hex.size() % 2 != 0)
        return {};
    for (std::size_t at = 0; at < hex.size(); at += 2)
    {
        const int high = Core::HexValue(hex[at]), low = Core::HexValue(hex[at + 1]);
        if (high < 0 || low < 0)
            return {};
        octets.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    return octets;
}

} // namespace

bool IsWellFormedSubmit(std::string_view hex, std::size_t tpduLength)
{
    const std::vector<std::uint8_t> octets = Octets(hex);
    const std::span<const std::uint8_t> pdu = octets;
    if (pdu.empty() || std::size_t{1} + pdu[0] > pdu.size())
        return false;
    std::span<const std::uint8_t> tpdu = pdu.subspan(std::size_t{1} + pdu[0]);
    // First octet, TP-MR and the length of TP-DA in digits.
    if (tpdu.size() != tpduLength || tpdu.size() < 3 || (tpdu[0] & MessageTypeMask) != SmsSubmit)
        return false;
    const std::size_t digits = tpdu[2];
    if (digits > MaxAddressDigits)
        return false;
    // The address type and the digits as semi-octets, TP-PID, TP-DCS, TP-VP and TP-UDL.
    const std::size_t mandatory = 3 + 1 + (digits + 1) / 2 + 2 + ValidityLength[(tpdu[0] >> 3) & 0x03] + 1;
    return mandatory <= tpdu.size();
}

} // namespace Pd::Tel
