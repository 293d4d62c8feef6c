// The scenario's LE advertisers ("bluetooth" "advertisers"), each heard by a running
// advertisement watcher (SimAdvertisementWatcher.cpp) when it starts and then every everyMs
// (default 100) on the watcher's own delivery thread, as Windows delivers them:
//
//   { "address": "C0FFEE000001", "random": true,  // 12 hex digits; random address (default false)
//     "type": 0,                      // Windows' advertisement type number, 5 extended (default 0)
//     "connectable": true, "scannable": false,    // what an extended advertisement says
//     "rssi": -60,                    // raw signal strength in dBm (default -60)
//     "sections": [{"type": 9, "hex": "4B6579"}], // data sections in order: AD type, bytes
//     "everyMs": 100 }
#pragma once

#include "core/Json.h"
#include "core/Result.h"
#include "platform/Bluetooth.h"

#include <cstdint>
#include <vector>

namespace Pd::Platform::Sim
{

// An LE device that advertises around the simulated PC.
struct ScenarioAdvertiser
{
    std::uint64_t address = 0;
    bool random = false;
    std::int32_t type = 0; // Pd::Platform::AdvertisementType's number
    bool connectable = false;
    bool scannable = false;
    std::int16_t rssi = -60;
    std::vector<AdvertisementSection> sections;
    std::uint32_t everyMs = 100;
};

// The "advertisers" of the "bluetooth" object.
Pd::Result<> ReadAdvertisers(const Json::Value& bluetooth, std::vector<ScenarioAdvertiser>& target);

} // namespace Pd::Platform::Sim
