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

    Result<bool> IsPaired() override;
    Result<bool> CanPair() override;
    Result<std::int32_t> Pair() override;

private:
    Result<std::shared_ptr<Platform::DeviceInformationPairing>> Get();

    Platform::LeDevice* device_;
    std::stop_token stop_;
    std::shared_ptr<Platform::DeviceInformationPairing> pairing_;
};

} // namespace Pd::Bt
