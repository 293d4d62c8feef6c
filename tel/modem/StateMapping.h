// How the Mobile Broadband service's numbers become what the emulated modem reports.
#pragma once

#include <cstdint>

namespace Pd::Tel
{

// MBN_REGISTER_STATE -> 3GPP registration status: searching 2, home 1, roaming and partner 5,
// denied 3, anything else (none, deregistered) 0.
constexpr std::int32_t RegistrationStatus(std::uint32_t registerState)
{
    switch (registerState)
    {
    case 2:
        return 2;
    case 3:
        return 1;
    case 4:
    case 5:
        return 5;
    case 6:
        return 3;
    default:
        return 0;
    }
}

// MBN_DATA_CLASS bits -> 3GPP access technology; the first rule that matches decides, and a
// class with none of these bits reads as LTE (7).
constexpr std::int32_t AccessTechnology(std::uint32_t dataClass)
{
    if (dataClass & 0x80) // 5G stand-alone
        return 11;
    if (dataClass & (0x20 | 0x40)) // LTE, 5G non-stand-alone
        return 7;
    if (dataClass & 0x8) // HSDPA, with HSUPA as well or not
        return dataClass & 0x10 ? 6 : 4;
    if (dataClass & 0x10) // HSUPA
        return 5;
    if (dataClass & 0x4) // UMTS
        return 2;
    if (dataClass & 0x2) // EDGE
        return 3;
    if (dataClass & 0x1) // GPRS
        return 0;
    return 7;
}

// GetSignalStrength -> "+CSQ" signal: 0-31 as it is, anything else unknown (99).
constexpr std::int32_t SignalQuality(std::uint32_t strength)
{
    return strength < 32 ? static_cast<std::int32_t>(strength) : 99;
}

} // namespace Pd::Tel
