// The scenario's cellular access points (SimCellularApn.cpp): "cellular"; absent: the PC has no
// cellular modem and every acquisition fails with "class not registered".
//
//   "cellular": {
//     "acquire": "opens",       // opens | noSession (completes without a session) | noAdapter
//                               // (a session without an adapter) | canceled | "0x80070490"
//                               // (fails with that HRESULT)
//     "acquireMs": 0,           // how long an acquisition takes; a stop request cancels it
//     "adapter": "loopback",    // the opened access point's interface: "loopback" (this PC's
//                               // loopback interface, so that traffic stays on 127.0.0.1 and ::1)
//                               // or a GUID in braces
//     "closeFails": false,      // closing a session fails
//     "names": { "mms.example": ["127.0.0.1", "::1"] }  // what the access point's DNS servers
//   }                           // answer: A records from the IPv4 entries, AAAA from the IPv6 ones
// Every acquisition that opens a session is kept in state.json ("apnSessions": the access point,
// user, password, authentication type number and whether the session was closed), in order.
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

// The cellular modem's access points; present only with a "cellular" key.
struct ScenarioCellular
{
    bool present = false;
    std::wstring acquire = L"opens"; // opens | noSession | noAdapter | canceled | "0x..." HRESULT
    std::uint32_t acquireMs = 0;
    std::optional<GUID> adapter; // absent: the loopback interface
    bool closeFails = false;
    std::map<std::wstring, std::vector<std::wstring>> names; // host -> addresses as text
};

Pd::Result<> ReadCellular(const Json::Value& cellular, ScenarioCellular& target);

} // namespace Pd::Platform::Sim
