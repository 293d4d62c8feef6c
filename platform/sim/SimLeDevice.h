// The simulated LE devices: each opens by its address and address type and lists the GATT
// database the scenario gives it, with the statuses and the failure the scenario asks for.
#pragma once

#include "platform/Bluetooth.h"
#include "platform/sim/Scenario.h"

#include <vector>

namespace Pd::Platform::Sim
{

// Null when no device of the scenario has this address and type.
Outcome<std::unique_ptr<LeDevice>> OpenLeDevice(const std::vector<ScenarioLeDevice>& devices,
                                                std::uint64_t address, bool randomAddress);

} // namespace Pd::Platform::Sim
