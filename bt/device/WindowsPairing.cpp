#include "bt/device/WindowsPairing.h"

namespace Pd::Bt
{
namespace
{

template <typename T> std::expected<T, std::uint32_t> Plain(const Platform::Outcome<T>& outcome)
{
    if (!outcome)
        return std::unexpected(static_cast<std::uint32_t>(outcome.error().code));
    return *outcome;
}

} // namespace

WindowsPairing::WindowsPairing(Platform::LeDevice* device, std::stop_token stop)
    : device_(device), stop_(std::move(stop))
{
}

std::expected<std::shared_ptr<Platform::DeviceInformationPairing>, std::uint32_t> WindowsPairing::Get()
{
    if (pairing_)
        return pairing_;
    if (!device_)
        return std::unexpected(static_cast<std::uint32_t>(E_POINTER));
    auto pairing = Plain(device_->Pairing());
    if (pairing && !*pairing)
        return std::unexpected(static_cast<std::uint32_t>(E_POINTER));
    if (pairing)
        pairing_ = *pairing;
    return pairing;
}

std::expected<bool, std::uint32_t> WindowsPairing::IsPaired()
{
    auto pairing = Get();
    if (!pairing)
        return std::unexpected(pairing.error());
    return Plain((*pairing)->IsPaired());
}

std::expected<bool, std::uint32_t> WindowsPairing::CanPair()
{
    auto pairing = Get();
    if (!pairing)
        return std::unexpected(pairing.error());
    return Plain((*pairing)->CanPair());
}

std::expected<std::int32_t, std::uint32_t> WindowsPairing::Pair()
{
    auto pairing = Get();
    if (!pairing)
        return std::unexpected(pairing.error());
    return Plain((*pairing)->PairAsync(stop_));
}

} // namespace Pd::Bt
