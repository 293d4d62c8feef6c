// The simulated LE devices: each opens by its address and address type, lists the GATT database
// the scenario gives it and answers reads, writes, configurations, its session and its pairing
// as the scenario asks, with values that change over time and a device that may go away.
#pragma once

#include "platform/Bluetooth.h"
#include "platform/sim/SimLeDeviceScenario.h"

#include <vector>

namespace Pd::Platform::Sim
{

// Null when no device of the scenario has this address and type.
Outcome<std::unique_ptr<LeDevice>> OpenLeDevice(const std::vector<ScenarioLeDevice>& devices,
                                                std::uint64_t address, bool randomAddress);

// The same, taking the scenario's "operationMs" to open (or never ending with "open" in
// "hangs") unless cancelled.
Outcome<std::unique_ptr<LeDevice>> OpenLeDevice(const std::vector<ScenarioLeDevice>& devices,
                                                std::uint64_t address, bool randomAddress,
                                                std::stop_token stop);

} // namespace Pd::Platform::Sim
