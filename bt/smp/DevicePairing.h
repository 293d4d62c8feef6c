// The real device's own pairing with Windows, shaped like the Windows Runtime's
// DeviceInformationPairing. A failed call gives its HRESULT.
#pragma once

#include <cstdint>
#include <expected>

namespace Pd::Bt
{

class DevicePairing
{
public:
    virtual ~DevicePairing() = default;

    virtual std::expected<bool, std::uint32_t> IsPaired() = 0;
    virtual std::expected<bool, std::uint32_t> CanPair() = 0;

    // PairAsync's DevicePairingResultStatus (0 Paired, 3 AlreadyPaired). Waits for Windows
    // until the link stops, which cancels the pairing (an error).
    virtual std::expected<std::int32_t, std::uint32_t> Pair() = 0;
};

} // namespace Pd::Bt
