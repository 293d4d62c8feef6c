// One reading of the PC's mobile broadband modem, as the emulated modem answers from it. A field
// that Windows did not deliver keeps its default ("unread") value.
#pragma once

#include <cstdint>
#include <string>

namespace Pd::Tel
{

struct ModemState
{
    bool simReady = false;
    std::string imei;
    std::string iccid;
    std::string imsi;
    std::int32_t registration = 0; // 3GPP status: 0, 1 home, 2 searching, 3 denied, 5 roaming
    std::string providerId;        // MCC and MNC digits
    std::string providerName;
    std::int32_t accessTechnology = 7; // 3GPP access technology number
    std::int32_t signal = 99;          // 0..31, 99 unknown
    std::string serviceCentre;         // SMS service centre address
};

// Registered at home or roaming.
constexpr bool IsRegistered(std::int32_t registration)
{
    return registration == 1 || registration == 5;
}

} // namespace Pd::Tel
