// The real device's own pairing with Windows, shaped like the Windows Runtime's
// DeviceInformationPairing. A failed call gives its HRESULT as its text ("0x800704C7").
#pragma once

#include "bt/Result.h"

#include <cstdint>

namespace Pd::Bt
{

class DevicePairing
{
public:
    virtual ~DevicePairing() = default;

    virtual Result<bool> IsPaired() = 0;
    virtual Result<bool> CanPair() = 0;

    // PairAsync's DevicePairingResultStatus (0 Paired, 3 AlreadyPaired). Waits for Windows
    // until the link stops, which cancels the pairing (an error).
    virtual Result<std::int32_t> Pair() = 0;
};

} // namespace Pd::Bt
