// Registry values that a test changes, saved when it starts and put back when it ends: the Wine
// prefix's registry is shared by every test exe.
#pragma once

#include "core/Elevation.h"
#include "core/Settings.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace PdTest
{

// Saves the named values of a key and deletes them; the destructor restores them as they were.
class SavedValues
{
public:
    SavedValues(HKEY root, std::wstring key, std::vector<std::wstring> names)
        : root_(root), key_(std::move(key)), names_(std::move(names))
    {
        for (const auto& name : names_)
        {
            Saved saved;
            DWORD size = 0;
            if (::RegGetValueW(root_, key_.c_str(), name.c_str(), RRF_RT_ANY, &saved.type, nullptr, &size) ==
                ERROR_SUCCESS)
            {
                saved.data.resize(size);
                ::RegGetValueW(root_, key_.c_str(), name.c_str(), RRF_RT_ANY, &saved.type, saved.data.data(),
                               &size);
                saved.present = true;
            }
            saved_.push_back(std::move(saved));
            ::RegDeleteKeyValueW(root_, key_.c_str(), name.c_str());
        }
    }
    SavedValues(const SavedValues&) = delete;
    SavedValues& operator=(const SavedValues&) = delete;
    ~SavedValues()
    {
        for (std::size_t i = 0; i < names_.size(); ++i)
        {
            ::RegDeleteKeyValueW(root_, key_.c_str(), names_[i].c_str());
            if (saved_[i].present)
                ::RegSetKeyValueW(root_, key_.c_str(), names_[i].c_str(), saved_[i].type,
                                  saved_[i].data.data(), static_cast<DWORD>(saved_[i].data.size()));
        }
    }

private:
    struct Saved
    {
        bool present = false;
        DWORD type = 0;
        std::vector<std::uint8_t> data;
    };
    HKEY root_;
    std::wstring key_;
    std::vector<std::wstring> names_;
    std::vector<Saved> saved_;
};

// Per-user values under "Software\Ormel\Peldra".
class UserValues : public SavedValues
{
public:
    explicit UserValues(std::vector<std::wstring> names)
        : SavedValues(HKEY_CURRENT_USER, Pd::Core::SettingsKey, std::move(names))
    {
    }

    static std::optional<std::wstring> Text(const std::wstring& name)
    {
        std::wstring value = Pd::Core::ReadUserString(name, L"\x01missing");
        return value == L"\x01missing" ? std::nullopt : std::optional(value);
    }
};

// What an elevated run recorded for the test's user under HKLM "Software\Ormel\Peldra".
struct MachineRecords : SavedValues
{
    MachineRecords()
        : SavedValues(HKEY_LOCAL_MACHINE, Pd::Core::SettingsKey,
                      {L"InstallFolder-" + Pd::Core::ProcessUserSid(),
                       L"ChosenFolder-" + Pd::Core::ProcessUserSid(),
                       L"EnabledDeveloperMode-" + Pd::Core::ProcessUserSid(),
                       L"EnabledVirtualMachinePlatform-" + Pd::Core::ProcessUserSid()})
    {
    }
};

// Windows' developer-mode switch (HKLM), set for one test.
class DeveloperModeSetting : public SavedValues
{
public:
    explicit DeveloperModeSetting(bool on) : SavedValues(HKEY_LOCAL_MACHINE, Key, {Name})
    {
        const DWORD value = on ? 1 : 0;
        ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, Key, Name, REG_DWORD, &value, sizeof(value));
    }

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
};

} // namespace PdTest
