#include "platform/Bluetooth.h"

#include "platform/sim/Scenario.h"
#include "platform/sim/SimAdvertisementWatcher.h"
#include "platform/sim/SimLeDevice.h"
#include "platform/sim/Simulation.h"

namespace Pd::Platform
{

Outcome<std::uint64_t> DefaultBluetoothAdapter()
{
    if (auto folder = Sim::ActiveScenarioFolder())
        return Sim::LoadScenario(*folder).bluetooth.adapter;
    return Failure(REGDB_E_CLASSNOTREG, L"Windows Bluetooth is not available");
}

Outcome<std::unique_ptr<AdvertisementWatcher>> CreateAdvertisementWatcher(ScanningMode mode)
{
    if (auto folder = Sim::ActiveScenarioFolder())
        return Sim::CreateAdvertisementWatcher(Sim::LoadScenario(*folder).bluetooth.advertisers, mode);
    return Failure(REGDB_E_CLASSNOTREG, L"Class not registered");
}

Outcome<std::unique_ptr<LeDevice>> OpenLeDevice(std::uint64_t address, bool randomAddress)
{
    if (auto folder = Sim::ActiveScenarioFolder())
        return Sim::OpenLeDevice(Sim::LoadScenario(*folder).bluetooth.devices, address, randomAddress);
    return Failure(REGDB_E_CLASSNOTREG, L"Class not registered");
}

} // namespace Pd::Platform
