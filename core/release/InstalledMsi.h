// The program's own Windows Installer package, found by its upgrade code.
#pragma once

#include <optional>
#include <string>

namespace Pd::Install
{

inline constexpr const wchar_t* ProgramUpgradeCode = L"{3C71D0A5-9B2E-4F68-A1D4-7E05C96B2F13}";

// The product code ("{...}", 38 characters) of the first related product that is installed
// locally or by default; none when there is none, when it is only advertised, or when Windows
// Installer does not answer.
std::optional<std::wstring> FindInstalledMsi();

} // namespace Pd::Install
