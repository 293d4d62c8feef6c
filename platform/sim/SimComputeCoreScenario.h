// The scenario's "computeSystems" (the Host Compute Service's listing, SimComputeCore.cpp) and
// "services" (the Android guest's services, SimHvSocket.cpp):
//
//   "computeSystems": [                   // the listing, in this order
//     {
//       "id": "2B1B9D9E-...",             // listed as written (need not be a valid GUID)
//       "owner": "TovikAndroid", "systemType": "VirtualMachine", "state": "Running",
//       "exitAfterMs": 500,               // ends this long after it was first listed
//       "shutdown": true,                 // ends when Android is asked to shut down ...
//       "shutdownDelayMs": 0,             // ... this long after the request
//       "terminate": "works",             // works | refused | fails | ignored | endedFirst
//       "account": "current",             // whose VM it is: "current" (this process's user, the
//                                         // default), a SID text, or "" (the owner names none);
//                                         // listed as the owner followed by the SID
//       "services": { "544B4650": 50124 } // its own guest services (default: the scenario's)
//     }
//   ],
//   "services": { "544B4254": 50123 },    // vsock port (hex) -> loopback TCP port of the peer
//
// A compute system ends for good (also for other processes) when it is terminated, shut down
// or its exitAfterMs passes; a stopped one is no longer listed. Terminate modes: "refused"
// rejects the request, "fails" accepts it and then reports failure, "ignored" succeeds without
// ending the system, "endedFirst" has the system end by itself just before the request, which
// then fails as the real service fails for a system that is gone.
#pragma once

#include "core/Json.h"
#include "core/Result.h"

#include <windows.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace Pd::Platform::Sim
{

enum class TerminateMode
{
    Works,
    Refused,
    Fails,
    Ignored,
    EndedFirst,
};

struct ScenarioComputeSystem
{
    std::wstring id;
    std::wstring owner;
    std::wstring systemType = L"VirtualMachine";
    std::wstring state = L"Running";
    std::optional<std::uint64_t> exitAfterMs;
    bool shutdown = true;
    std::uint64_t shutdownDelayMs = 0;
    TerminateMode terminate = TerminateMode::Works;
    std::wstring account = L"current"; // whose VM it is: "current", a SID text, or "" for none
    std::optional<std::map<std::uint32_t, std::uint16_t>> services; // its own, else the scenario's

    // The owner text the listing shows: the owner, then the account's SID ("current" stands for
    // this process's user) when there is one.
    std::wstring ListedOwner() const;

    // The id read as a GUID, when it is one.
    std::optional<GUID> Guid() const;
};

Pd::Result<> ReadComputeSystems(const Json::Value& list, std::vector<ScenarioComputeSystem>& target);

// Guest services: vsock port -> loopback TCP port.
Pd::Result<> ReadServices(const Json::Value& services, std::map<std::uint32_t, std::uint16_t>& target);

} // namespace Pd::Platform::Sim
