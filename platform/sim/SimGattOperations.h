// What the simulated LE devices share over time: their waits (slow, never-ending, cancelled)
// and one pump thread that raises their timed events (value changes, disconnects). The pump
// holds the device states weakly, so a device released inside one of its own handlers goes away
// on the pump, which never belongs to it.
#pragma once

#include "platform/Bluetooth.h"

#include <chrono>
#include <functional>
#include <stop_token>
#include <string_view>

namespace Pd::Platform::Sim
{

// Waits as the scenario makes the operation last: `duration`, or until cancelled when `hangs`.
// Cancelled (a stop request) fails as Windows' cancelled operations do.
Outcome<> SimulateOperation(std::chrono::milliseconds duration, bool hangs, std::stop_token stop);

// Runs `event` on the pump thread after `delay`. Events run one at a time, in time order.
void RunLater(std::chrono::milliseconds delay, std::function<void()> event);

} // namespace Pd::Platform::Sim
