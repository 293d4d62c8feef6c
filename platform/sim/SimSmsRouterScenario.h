// The scenario's Windows SMS router (SimSmsRouter.cpp): "smsRouter"; absent: every call fails with
// "class not registered".
//
//   "smsRouter": {
//     "registerFails": "0x80070005",     // registering fails with this HRESULT
//     "registrations": ["Peldra"],       // ids registered before the program runs (earlier runs)
//     "messages": [                      // what the router hands every registration, each on
//       { "type": 2,                     // the router's own thread afterMs after the registration;
//         "from": "+4915112345678",      // type is SmsMessageType's number (2 WAP), all are
//         "contentType": "application/vnd.wap.mms-message",    // delivered whatever the type,
//         "hex": "8C82...",              // the body; timestamp in 100-ns units since 1601;
//         "timestamp": 133497000000000000, "afterMs": 200,     // readFails: reading the message
//         "readFails": "0x8000000E" } ]  // fails with this HRESULT
//   }
// Messages appended to the list while a registration lives reach it too, at once when their
// afterMs is past.
// The registrations as they stand are kept in state.json ("smsRegistrations", ids in order);
// they outlive the program, as the router's do.
#pragma once

#include "core/Json.h"
#include "core/Result.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Pd::Platform::Sim
{

// A message of Windows' SMS router; see "messages" above.
struct ScenarioSmsMessage
{
    std::int32_t type = 2;
    std::wstring from;
    std::wstring contentType;
    std::vector<std::uint8_t> body;
    std::uint64_t timestamp = 0;
    std::uint32_t afterMs = 0;
    std::optional<HRESULT> readFails;
};

// Windows' SMS router; present only with a "smsRouter" key.
struct ScenarioSmsRouter
{
    bool present = false;
    std::optional<HRESULT> registerFails;
    std::vector<std::wstring> registrations;
    std::vector<ScenarioSmsMessage> messages;
};

Pd::Result<> ReadSmsRouter(const Json::Value& router, ScenarioSmsRouter& target);

} // namespace Pd::Platform::Sim
