// The simulated PC, as scenario.json describes it: a UTF-8 JSON object whose keys are all
// optional. Each top-level key belongs to one part of the simulator; its section (the keys'
// description, the struct and the reader) sits beside that part, in Sim<Part>Scenario.h/.cpp:
//
//   key                      section                         simulator part
//   "windows"                SimWindowsScenario.h            SimWindows.cpp: version, features, dism
//   "computeSystems"         SimComputeCoreScenario.h        SimComputeCore.cpp: the Android VM
//   "services"               SimComputeCoreScenario.h        SimHvSocket.cpp: the guest's services
//   "packages", "packageWalkFailsAfter", "publisherIds", "deploymentFailures", "appSettings"
//                            SimPackageManagerScenario.h     SimPackageManager.cpp
//   "bluetooth"              SimBluetoothScenario.h          the adapter; advertisers
//                                                            (SimAdvertisementWatcherScenario.h) and
//                                                            LE devices (SimLeDeviceScenario.h)
//   "hello"                  SimUserConsentScenario.h        SimUserConsent.cpp, SimDeviceNotifications.cpp
//   "cellular"               SimCellularApnScenario.h        SimCellularApn.cpp
//   "modem"                  SimModemScenario.h              SimModem.cpp
//   "network", "shell"       SimNetworkScenario.h            SimNetwork.cpp
//   "smsRouter"              SimSmsRouterScenario.h          SimSmsRouter.cpp
//   "trust"                  SimPublisherScenario.h          SimPublisher.cpp
//
// ParseScenario reads the keys in the order of its table (TopLevelKeys in Scenario.cpp), which
// names each key's reader. What the simulated services change is kept beside scenario.json in
// state.json (Simulation.h); each section says what its part keeps there.
#pragma once

#include "core/Json.h"
#include "core/Result.h"
#include "platform/sim/SimBluetoothScenario.h"
#include "platform/sim/SimCellularApnScenario.h"
#include "platform/sim/SimComputeCoreScenario.h"
#include "platform/sim/SimModemScenario.h"
#include "platform/sim/SimNetworkScenario.h"
#include "platform/sim/SimPackageManagerScenario.h"
#include "platform/sim/SimPublisherScenario.h"
#include "platform/sim/SimSmsRouterScenario.h"
#include "platform/sim/SimUserConsentScenario.h"
#include "platform/sim/SimWindowsScenario.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace Pd::Platform::Sim
{

struct Scenario
{
    ScenarioWindows windows;
    std::vector<ScenarioComputeSystem> computeSystems;
    std::map<std::uint32_t, std::uint16_t> services; // vsock port -> loopback TCP port
    std::vector<ScenarioPackage> packages;
    std::optional<std::size_t> packageWalkFailsAfter;
    std::map<std::wstring, std::wstring> publisherIds;
    std::map<std::wstring, HRESULT> deploymentFailures; // "add", "register", "remove"
    Json::Value appSettings;                            // family -> object of values
    ScenarioBluetooth bluetooth;
    ScenarioHello hello;
    ScenarioCellular cellular;
    ScenarioModem modem;
    ScenarioSmsRouter smsRouter;
    ScenarioNetwork network;
    ScenarioShell shell;
    ScenarioTrust trust;
};

// Reads the scenario from its JSON; an error names the first key that is wrong.
Pd::Result<Scenario> ParseScenario(const Json::Value& document);

// Reads "<folder>/scenario.json". A scenario that cannot be read is reported once (program
// log) and gives the empty PC.
Scenario LoadScenario(const std::filesystem::path& folder);

} // namespace Pd::Platform::Sim
