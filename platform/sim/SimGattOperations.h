// What the simulated LE devices share over time: their waits (slow, never-ending, cancelled)
// and one pump thread that raises their timed events (value changes, disconnects). The pump
// holds the device states weakly, so a device released inside one of its own handlers goes away
// on the pump, which never belongs to it.
#pragma once

#include "platform/Bluetooth.h"

#include <chrono>
#include <functional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace Pd::Platform::Sim
{

// Waits as the scenario makes the operation `name` last: `duration`, or, when `hangs` names it,
// until cancelled, logging "simulation: <name> hangs until it is stopped" as it begins to wait, so
// that a test can tell the operation has begun. Cancelled (a stop request) fails as Windows'
// cancelled operations do.
Outcome<> SimulateOperation(std::wstring_view name, std::chrono::milliseconds duration,
                            const std::vector<std::wstring>& hangs, std::stop_token stop);

// Runs `event` on the pump thread after `delay`. Events run one at a time, in time order.
void RunLater(std::chrono::milliseconds delay, std::function<void()> event);

} // namespace Pd::Platform::Sim
