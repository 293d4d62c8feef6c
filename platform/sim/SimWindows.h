// The simulated Windows version and optional features, from the scenario's "windows" object.
#pragma once

#include "platform/WindowsVersion.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace Pd::Platform::Sim
{

WindowsVersion ReadWindowsVersion(const std::filesystem::path& folder);

// Virtual Machine Platform enabled or not: as the last successful dism run left it, else as the
// scenario says; none when the scenario leaves it open (WMI cannot answer).
std::optional<bool> VirtualMachinePlatformState(const std::filesystem::path& folder);

// The simulated dism.exe: records the command line, and with the scenario's exit code 0 or 3010
// switches Virtual Machine Platform as "/enable-feature" or "/disable-feature" asks.
std::uint32_t RunDism(const std::filesystem::path& folder, const std::wstring& commandLine);

} // namespace Pd::Platform::Sim
