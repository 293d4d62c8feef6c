// The availability check and its text.
#include "host/hello/WindowsHello.h"

#include "platform/UserConsent.h"

namespace Pd::Bio
{

Availability CheckAvailability()
{
    try
    {
        auto answer = Platform::UserConsent()->CheckAvailability();
        if (!answer || *answer > static_cast<std::uint32_t>(Availability::DeviceBusy))
            return Availability::CheckFailed;
        return static_cast<Availability>(*answer);
    }
    catch (...)
    {
        return Availability::CheckFailed;
    }
}

std::wstring AvailabilityText(Availability availability)
{
    switch (availability)
    {
    case Availability::Available:
        return L"available (fingerprint / Windows Hello ready)";
    case Availability::DeviceNotPresent:
        return L"no biometric / Windows Hello device present";
    case Availability::NotConfiguredForUser:
        return L"not configured for this Windows user (set up Windows Hello PIN/fingerprint in Settings)";
    case Availability::DisabledByPolicy:
        return L"disabled by Windows policy";
    case Availability::DeviceBusy:
        return L"biometric device is busy";
    default:
        return L"unavailable (WinRT check failed)";
    }
}

} // namespace Pd::Bio
