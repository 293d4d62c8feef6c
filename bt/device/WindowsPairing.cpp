#include "bt/device/WindowsPairing.h"

#include <fmt/format.h>

namespace Pd::Bt
{
namespace
{

// The pairing's failures are logged by their HRESULT alone.
std::string HresultText(HRESULT code)
{
    return fmt::format("0x{:08X}", static_cast<std::uint32_t>(code));
}

template <typename T> Result<T> Plain(const Platform::Outcome<T>& outcome)
{
    if (!outcome)
        return Fail(HresultText(outcome.error().code));
    return *outcome;
}

} // namespace

WindowsPairing::WindowsPairing(Platform::LeDevice* device, std::stop_token stop)
    : device_(device), stop_(std::move(stop))
{
}

Result<std::shared_ptr<Platform::DeviceInformationPairing>> WindowsPairing::Get()
{
    if (pairing_)
        return pairing_;
    if (!device_)
        return Fail(HresultText(E_POINTER));
    auto pairing = Plain(device_->Pairing());
    if (pairing && !*pairing)
        return Fail(HresultText(E_POINTER));
    if (pairing)
        pairing_ = *pairing;
    return pairing;
}

Result<bool> WindowsPairing::IsPaired()
{
    auto pairing = Get();
    if (!pairing)
        return Fail(std::move(pairing.error()));
    return Plain((*pairing)->IsPaired());
}

Result<bool> WindowsPairing::CanPair()
{
    auto pairing = Get();
    if (!pairing)
        return Fail(std::move(pairing.error()));
    return Plain((*pairing)->CanPair());
}

Result<std::int32_t> WindowsPairing::Pair()
{
    auto pairing = Get();
    if (!pairing)
        return Fail(std::move(pairing.error()));
    return Plain((*pairing)->PairAsync(stop_));
}

} // namespace Pd::Bt
