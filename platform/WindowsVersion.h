// The running Windows' version as the report shows it. The simulator stands in for it, since
// Wine never reports a Windows 11 build.
#pragma once

#include <cstdint>
#include <string>

namespace Pd::Platform
{

struct WindowsVersion
{
    std::uint32_t build = 0; // 0 when unknown
    std::uint32_t ubr = 0;   // update build revision, 0 when unknown
    std::wstring productName;
    std::wstring displayVersion;
};

// RtlGetVersion's build, and UBR, ProductName and DisplayVersion of the machine's
// "Windows NT\CurrentVersion" key; every part that cannot be read keeps its empty value.
WindowsVersion ReadWindowsVersion();

// Windows' developer mode (AppModelUnlock's AllowDevelopmentWithoutDevLicense is not 0): the
// package manager registers unpacked apps only while it is on. The real setting, also when
// simulating: the product turns it on itself.
bool DeveloperModeOn();

} // namespace Pd::Platform
