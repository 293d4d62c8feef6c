// One picture of the Windows the program runs on, for the install checks and every status
// display, and its one-line description.
#pragma once

#include "platform/WindowsVersion.h"
#include "platform/Wmi.h"
#include "release/windows/Packages.h"

#include <optional>
#include <string>

namespace Pd::Core
{

// The version as Windows reports it, then what the install checks need beside it.
struct WindowsInfo : Platform::WindowsVersion
{
    std::optional<bool> virtualMachinePlatform; // none when WMI could not answer
    bool developerMode = false;
    std::optional<Install::PackageInfo> installedPackage; // Tovik, registered for this account
    std::optional<Install::PackageUser> packageUser;      // only when this account has no Tovik

    WindowsInfo() = default;
    WindowsInfo(WindowsInfo&&) = default;
    WindowsInfo& operator=(WindowsInfo&&) = default;
};

// Gathers everything; a part that cannot be read keeps its empty value. Never fails.
WindowsInfo QueryWindows();

// "Windows 11 Pro 23H2 (22631.4169)": the product name (or "Windows"), "10" read as "11" from
// build 22000 on, the display version, then build and revision.
std::wstring WindowsText(const WindowsInfo& info);

} // namespace Pd::Core
