// The program's own Windows Installer package: found by its upgrade code, removed through msiexec.
#pragma once

#include "core/Result.h"

#include <optional>
#include <string>

namespace Pd::Install
{

inline constexpr const wchar_t* ProgramUpgradeCode = L"{3C71D0A5-9B2E-4F68-A1D4-7E05C96B2F13}";

// The product code ("{...}", 38 characters) of the first related product that is installed
// locally or by default; none when there is none, when it is only advertised, or when Windows
// Installer does not answer.
std::optional<std::wstring> FindInstalledMsi();

// Starts the passive removal of the package by msiexec and does not wait for it: the removal goes
// on by itself, and the package may run the installer invocations of this program. With
// removeData the package is asked to remove the program's data too (REMOVEDATA=1).
Result<> StartMsiUninstall(const std::wstring& productCode, bool removeData);

namespace Detail
{
std::wstring MsiUninstallCommandLine(const std::wstring& msiexec, const std::wstring& productCode,
                                     bool removeData);
} // namespace Detail

} // namespace Pd::Install
