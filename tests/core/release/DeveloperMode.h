// Windows' developer-mode switch (HKLM) set for one test and put back afterwards.
#pragma once

#include <windows.h>

#include <optional>

namespace PdTest
{

class DeveloperModeSetting
{
public:
    explicit DeveloperModeSetting(bool on)
    {
        DWORD value = 0;
        DWORD size = sizeof(value);
        if (::RegGetValueW(HKEY_LOCAL_MACHINE, Key, Name, RRF_RT_REG_DWORD, nullptr, &value, &size) ==
            ERROR_SUCCESS)
            saved_ = value;
        Set(on ? 1 : 0);
    }
    ~DeveloperModeSetting()
    {
        if (saved_)
            Set(*saved_);
        else
            ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, Key, Name);
    }
    DeveloperModeSetting(const DeveloperModeSetting&) = delete;
    DeveloperModeSetting& operator=(const DeveloperModeSetting&) = delete;

    static bool On()
    {
        DWORD value = 0;
        DWORD size = sizeof(value);
        return ::RegGetValueW(HKEY_LOCAL_MACHINE, Key, Name, RRF_RT_REG_DWORD, nullptr, &value, &size) ==
                   ERROR_SUCCESS &&
               value != 0;
    }

private:
    static constexpr const wchar_t* Key = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\AppModelUnlock";
    static constexpr const wchar_t* Name = L"AllowDevelopmentWithoutDevLicense";

    static void Set(DWORD value)
    {
        ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, Key, Name, REG_DWORD, &value, sizeof(value));
    }

    std::optional<DWORD> saved_;
};

} // namespace PdTest
