#include "platform/RealServices.h"

namespace Pd::Platform::Real
{

// This build has no Windows Runtime binding for Bluetooth.
Outcome<std::uint64_t> DefaultBluetoothAdapter()
{
    return Failure(REGDB_E_CLASSNOTREG, L"Windows Bluetooth is not available");
}

Outcome<std::unique_ptr<AdvertisementWatcher>> CreateAdvertisementWatcher(ScanningMode)
{
    return Failure(REGDB_E_CLASSNOTREG, L"Class not registered");
}

Outcome<std::unique_ptr<LeDevice>> OpenLeDevice(std::uint64_t, bool)
{
    return Failure(REGDB_E_CLASSNOTREG, L"Class not registered");
}

} // namespace Pd::Platform::Real
