// The scenario's "windows" object: the Windows version the simulated PC reports and its Virtual
// Machine Platform feature (SimWindows.cpp). Every member is optional:
//
//   "windows": {
//     "build": 22631, "ubr": 4169, "productName": "Windows 10 Pro", "displayVersion": "23H2",
//     "virtualMachinePlatform": true,     // true or false; absent or null: WMI cannot answer
//     "dismExitCode": 3010                // what dism.exe ends with (default 0); 0 and 3010 switch
//   }                                     // the feature, anything else leaves it as it was
//
// A dism run with exit code 0 or 3010 sets Virtual Machine Platform to what it asked for, in
// state.json ("features"), which then overrides "virtualMachinePlatform"; every run's command
// line is kept there too ("dismRuns"), in order.
#pragma once

#include "core/Json.h"
#include "core/Result.h"

#include <cstdint>
#include <optional>
#include <string>

namespace Pd::Platform::Sim
{

struct ScenarioWindows
{
    std::uint32_t build = 0;
    std::uint32_t ubr = 0;
    std::wstring productName;
    std::wstring displayVersion;
    std::optional<bool> virtualMachinePlatform;
    std::uint32_t dismExitCode = 0;
};

Pd::Result<> ReadWindows(const Json::Value& windows, ScenarioWindows& target);

} // namespace Pd::Platform::Sim
