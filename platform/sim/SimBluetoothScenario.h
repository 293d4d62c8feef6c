// The scenario's "bluetooth" object: the PC's default adapter (DefaultBluetoothAdapter in
// SimulatedServices.cpp), the LE advertisers around it (SimAdvertisementWatcherScenario.h) and the
// LE devices Windows can open, with their GATT (SimLeDeviceScenario.h):
//
//   "bluetooth": {
//     "adapter": "001A7DDA7113",         // the default adapter's address (12 hex digits);
//                                        // absent: the PC has no Bluetooth adapter
//     "advertisers": [ ... ],
//     "devices": [ ... ]
//   }
#pragma once

#include "core/Json.h"
#include "core/Result.h"
#include "platform/sim/SimAdvertisementWatcherScenario.h"
#include "platform/sim/SimLeDeviceScenario.h"

#include <cstdint>
#include <vector>

namespace Pd::Platform::Sim
{

struct ScenarioBluetooth
{
    std::uint64_t adapter = 0; // 0: no adapter
    std::vector<ScenarioAdvertiser> advertisers;
    std::vector<ScenarioLeDevice> devices;
};

Pd::Result<> ReadBluetooth(const Json::Value& bluetooth, ScenarioBluetooth& target);

} // namespace Pd::Platform::Sim
