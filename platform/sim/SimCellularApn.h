// The simulated cellular access points: the scenario's "cellular" key (see
// SimCellularApnScenario.h). Every acquired access point is recorded in state.json ("apnSessions")
// with the context it was opened with and whether it was closed, so that a test can see what was
// asked of Windows.
#pragma once

#include "platform/CellularApn.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace Pd::Platform::Sim
{

std::shared_ptr<CellularConnectivity> MakeCellularConnectivity(const std::filesystem::path& folder);

// The access point's DNS servers: the scenario's "names" of the asked family.
Outcome<std::vector<std::vector<std::uint8_t>>> QueryApnDns(const std::filesystem::path& folder,
                                                            const std::wstring& name, WORD type);

// An access point as the simulated Windows opened it.
struct ApnSessionRecord
{
    ApnContext context;
    bool closed = false;
};

// Every access point opened so far, oldest first.
std::vector<ApnSessionRecord> RecordedApnSessions(const std::filesystem::path& folder);

} // namespace Pd::Platform::Sim
