// The simulated package manager: the scenario's packages, each registered for the accounts
// its "users" name ("current" standing for the account this process runs as). Deployments
// (register, add, remove) keep the changed list in state.json ("packages"), which then stands
// in for the scenario's, so that later processes see them; the packages' local settings values
// live there too ("appSettings").
#pragma once

#include "platform/PackageManager.h"

#include <filesystem>
#include <memory>

namespace Pd::Platform::Sim
{

std::shared_ptr<PackageManager> MakePackageManager(const std::filesystem::path& folder);

} // namespace Pd::Platform::Sim
