#include "platform/WindowsVersion.h"

#include "platform/RealServices.h"

#include <windows.h>

#include <vector>

namespace Pd::Platform
{
namespace
{

constexpr const wchar_t* CurrentVersionKey = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";

std::uint32_t RealBuild()
{
    using RtlGetVersionFunction = LONG(WINAPI*)(RTL_OSVERSIONINFOW*);
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    auto rtlGetVersion = ntdll ? reinterpret_cast<RtlGetVersionFunction>(
                                     reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlGetVersion")))
                               : nullptr;
    if (rtlGetVersion == nullptr)
        return 0;
    RTL_OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    static_assert(sizeof(info) == 276);
    if (rtlGetVersion(&info) != 0)
        return 0;
    return info.dwBuildNumber;
}

std::uint32_t ReadMachineDword(const wchar_t* name)
{
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, CurrentVersionKey, name, RRF_RT_REG_DWORD, nullptr, &value,
                       &size) != ERROR_SUCCESS)
        return 0;
    return value;
}

// Asks for the size, reads into that many bytes, and keeps the text up to its first zero.
std::wstring ReadMachineString(const wchar_t* name)
{
    DWORD size = 0;
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, CurrentVersionKey, name, RRF_RT_REG_SZ, nullptr, nullptr, &size) !=
            ERROR_SUCCESS ||
        size < sizeof(wchar_t))
        return {};
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
    DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, CurrentVersionKey, name, RRF_RT_REG_SZ, nullptr, buffer.data(),
                       &bytes) != ERROR_SUCCESS)
        return {};
    return std::wstring(buffer.data());
}

} // namespace

WindowsVersion Real::ReadWindowsVersion()
{
    return WindowsVersion{RealBuild(), ReadMachineDword(L"UBR"), ReadMachineString(L"ProductName"),
                          ReadMachineString(L"DisplayVersion")};
}

bool DeveloperModeOn()
{
    DWORD value = 0;
    DWORD size = sizeof(value);
    return ::RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\AppModelUnlock",
                          L"AllowDevelopmentWithoutDevLicense", RRF_RT_REG_DWORD, nullptr, &value,
                          &size) == ERROR_SUCCESS &&
           value != 0;
}

} // namespace Pd::Platform
