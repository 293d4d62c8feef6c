// The scenario's "hello" object: Windows Hello's answers (SimUserConsent.cpp) and its biometric
// readers (SimDeviceNotifications.cpp):
//
//   "hello": {                           // Windows Hello; members default to 0 (absent: no device)
//     "availability": 0,                 // what the availability check answers: 0-4 (any whole
//                                        // number passes as Windows hands it) or "fails"
//     "result": 0,                       // how every prompt ends: 0-6, or "fails"
//     "promptMs": 1500,                  // how long a prompt stays open before it ends
//     "readers": 1                       // biometric readers plugged in (default 0): each one
//   }                                    // that arrives or leaves notifies the device watches
//
// Every Windows Hello prompt is kept in state.json ("helloPrompts": its text and whether it had
// an owner window), so that a test can see what was shown. A prompt cancelled before promptMs
// ends as canceled; without a "hello" key the check and every prompt answer 1 (device not present).
#pragma once

#include "core/Json.h"
#include "core/Result.h"

#include <cstdint>

namespace Pd::Platform::Sim
{

// One Windows Hello answer: a value as Windows hands it, or a failed call.
struct ScenarioHelloAnswer
{
    std::uint32_t value = 0;
    bool fails = false;
};

struct ScenarioHello
{
    ScenarioHelloAnswer availability{1}; // device not present
    ScenarioHelloAnswer result{1};
    std::uint32_t promptMs = 0;
    std::uint32_t readers = 0;
};

Pd::Result<> ReadHello(const Json::Value& hello, ScenarioHello& target);

} // namespace Pd::Platform::Sim
