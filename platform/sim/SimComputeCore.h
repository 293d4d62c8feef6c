// The simulated Host Compute Service: lists the scenario's compute systems that still run,
// watches one for its end, and terminates it as the scenario says. Their ends are kept in
// state.json, so that every process sees a stopped VM as stopped.
#pragma once

#include "platform/ComputeCore.h"

#include <filesystem>
#include <memory>
#include <string>

namespace Pd::Platform::Sim
{

std::shared_ptr<ComputeCore> MakeComputeCore(const std::filesystem::path& folder);

// Whether the scenario's compute system with this GUID is listed and has not ended.
bool IsComputeSystemRunning(const std::filesystem::path& folder, const GUID& id);

// What Android's own shutdown does to the running compute systems: each whose scenario says
// "shutdown": true ends after its shutdown delay. Returns how many will end. The simulated
// form of whatever starts Android's shutdown (the Android subsystem's client) calls this.
int RequestGuestShutdown(const std::filesystem::path& folder);

// Ends a compute system now, as if it had stopped by itself (scenario id as written).
void EndComputeSystem(const std::filesystem::path& folder, const std::wstring& id);

} // namespace Pd::Platform::Sim
