// The scenario's "network" (the connectivity hint) and "shell" (the desktop shell) objects
// (SimNetwork.cpp):
//
//   "network": {                         // the connectivity hint (absent: unavailable, as in Wine)
//     "connectivity": "internet",        // unknown | none | local | internet | constrained |
//                                        // hidden, or "fails" (the hint cannot be read)
//     "changes": 0                       // raise it to notify a change that keeps the level
//   },
//   "shell": {
//     "opensPages": true,                // false: the desktop shell opens nothing (pages, files,
//                                        // folders, programs)
//     "schemes": ["http", "https"]       // the address schemes a program opens (this default);
//   }                                    // the shell refuses an address of another one (1155)
//
// Watchers of the connectivity hint are told once at once, and then whenever "network" changes
// (level, failure or "changes"), as soon as scenario.json is replaced. Everything the desktop shell
// opens for the user is kept in state.json ("openedPages"), in order; a program is also started.
#pragma once

#include "core/Json.h"
#include "core/Result.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Pd::Platform::Sim
{

// The connectivity hint; present only with a "network" key.
struct ScenarioNetwork
{
    bool present = false;
    std::int32_t level = 0; // Pd::Platform::ConnectivityLevel's number
    bool fails = false;
    std::uint64_t changes = 0;

    bool operator==(const ScenarioNetwork&) const = default;
};

struct ScenarioShell
{
    bool opensPages = true;
    std::vector<std::wstring> schemes{L"http", L"https"}; // address schemes a program opens
};

Pd::Result<> ReadNetwork(const Json::Value& network, ScenarioNetwork& target);
Pd::Result<> ReadShell(const Json::Value& shell, ScenarioShell& target);

} // namespace Pd::Platform::Sim
