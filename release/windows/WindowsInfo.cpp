#include "release/windows/WindowsInfo.h"

#include <windows.h>

#include <fmt/xchar.h>

namespace Pd::Core
{

WindowsInfo QueryWindows()
{
    WindowsInfo info;
    static_cast<Platform::WindowsVersion&>(info) = Platform::ReadWindowsVersion();
    info.virtualMachinePlatform = VmpInstallState();
    info.developerMode = Platform::DeveloperModeOn();
    info.installedPackage = Install::FindInstalledPackage();
    if (!info.installedPackage)
        info.packageUser = Install::FindPackageUsers();
    return info;
}

std::wstring WindowsText(const WindowsInfo& info)
{
    std::wstring name = info.productName.empty() ? L"Windows" : info.productName;
    // Windows 11 still names itself "Windows 10" in the registry.
    if (info.build > 21999 && name.size() > 9 && name.starts_with(L"Windows 10"))
        name.replace(8, 2, L"11");
    if (!info.displayVersion.empty())
        name += L" " + info.displayVersion;
    return fmt::format(L"{} ({}.{})", name, info.build, info.ubr);
}

} // namespace Pd::Core
