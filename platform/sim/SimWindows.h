// The simulated Windows version and optional features, from the scenario's "windows" object.
#pragma once

#include "platform/WindowsVersion.h"

#include <filesystem>
#include <optional>

namespace Pd::Platform::Sim
{

WindowsVersion ReadWindowsVersion(const std::filesystem::path& folder);

// Virtual Machine Platform enabled or not; none when the scenario leaves it open (WMI cannot
// answer).
std::optional<bool> VirtualMachinePlatformState(const std::filesystem::path& folder);

} // namespace Pd::Platform::Sim
