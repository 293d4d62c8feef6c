// The simulated LE advertisement watcher: while it runs, a delivery thread of its own hears the
// scenario's advertisers (each at start, then every everyMs) and calls the Received handlers,
// as Windows calls them on threads of its own.
#pragma once

#include "platform/Bluetooth.h"
#include "platform/sim/SimAdvertisementWatcherScenario.h"

#include <vector>

namespace Pd::Platform::Sim
{

// A passive watcher hears no scan responses. Stop and release it on any thread but its delivery
// thread (a handler must not stop it).
Outcome<std::unique_ptr<AdvertisementWatcher>> CreateAdvertisementWatcher(
    std::vector<ScenarioAdvertiser> advertisers, ScanningMode mode);

} // namespace Pd::Platform::Sim
