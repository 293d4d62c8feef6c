// The real device's pairing with Windows behind the SMP responder: its DeviceInformation's
// pairing, with a pairing that waits for Windows (and the user) until the link stops, which
// cancels it.
#pragma once

#include "bt/smp/DevicePairing.h"
#include "platform/Bluetooth.h"

#include <memory>
#include <stop_token>

namespace Pd::Bt
{

class WindowsPairing final : public DevicePairing
{
public:
    // Null `device` (or one without pairing) fails every call with the HRESULT it gave.
    WindowsPairing(Platform::LeDevice* device, std::stop_token stop);

    std::expected<bool, std::uint32_t> IsPaired() override;
    std::expected<bool, std::uint32_t> CanPair() override;
    std::expected<std::int32_t, std::uint32_t> Pair() override;

private:
    std::expected<std::shared_ptr<Platform::DeviceInformationPairing>, std::uint32_t> Get();

    Platform::LeDevice* device_;
    std::stop_token stop_;
    std::shared_ptr<Platform::DeviceInformationPairing> pairing_;
};

} // namespace Pd::Bt
