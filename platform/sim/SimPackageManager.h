// The simulated package manager: the scenario's packages, each registered for the accounts
// its "users" name ("current" standing for the account this process runs as).
#pragma once

#include "platform/PackageManager.h"

#include <filesystem>
#include <memory>

namespace Pd::Platform::Sim
{

std::shared_ptr<PackageManager> MakePackageManager(const std::filesystem::path& folder);

} // namespace Pd::Platform::Sim
