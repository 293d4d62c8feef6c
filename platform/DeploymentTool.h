// The system's deployment tool (dism.exe), which switches Windows features. Wine's dism.exe
// does nothing and ends with 0; the simulator answers as its scenario says.
#pragma once

#include <cstdint>
#include <expected>
#include <string>

namespace Pd::Platform
{

// Starts the program with the command line, without a console window and without inheriting
// handles, and waits for it to end: its exit code, or the Windows error when it cannot be started.
std::expected<std::uint32_t, std::uint32_t> RunDeploymentTool(const std::wstring& program,
                                                              const std::wstring& commandLine);

} // namespace Pd::Platform
