// The scenario's "trust" object: the test publisher the simulated PC trusts in place of the
// program's own (StandInPublisher in SimPublisher.cpp):
//
//   "trust": {                           // the publisher this PC trusts in place of the
//     "publisher": "Peldra Test ...",    // program's own: the leaf's simple name, the root
//     "rootPrefix": "Peldra Test Code ", // name's prefix and the root keys (SHA-256 of the DER
//     "rootKeys": ["89fe...", "..."]     // SubjectPublicKeyInfo); absent: it trusts nobody
//   }
#pragma once

#include "core/Json.h"
#include "core/Result.h"

#include <string>
#include <vector>

namespace Pd::Platform::Sim
{

// The trusted publisher's pins (Pd::Core::PublisherPins in the product's terms).
struct ScenarioTrust
{
    std::wstring publisher;
    std::wstring rootPrefix;
    std::vector<std::wstring> rootKeys;
};

Pd::Result<> ReadTrust(const Json::Value& trust, ScenarioTrust& target);

} // namespace Pd::Platform::Sim
