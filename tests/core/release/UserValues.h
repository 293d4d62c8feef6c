// Per-user values that a test changes under "Software\Ormel\Peldra", put back as they were at the
// end of the test (other test exes share the Wine prefix's registry).
#pragma once

#include "core/Settings.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace PdTest
{

class UserValues
{
public:
    explicit UserValues(std::vector<std::wstring> names) : names_(std::move(names))
    {
        for (const auto& name : names_)
        {
            Saved saved;
            DWORD size = 0;
            if (::RegGetValueW(HKEY_CURRENT_USER, Pd::Core::SettingsKey, name.c_str(), RRF_RT_ANY,
                               &saved.type, nullptr, &size) == ERROR_SUCCESS)
            {
                saved.data.resize(size);
                ::RegGetValueW(HKEY_CURRENT_USER, Pd::Core::SettingsKey, name.c_str(), RRF_RT_ANY,
                               &saved.type, saved.data.data(), &size);
                saved.present = true;
            }
            saved_.push_back(std::move(saved));
            Delete(name);
        }
    }
    UserValues(const UserValues&) = delete;
    UserValues& operator=(const UserValues&) = delete;
    ~UserValues()
    {
        for (std::size_t i = 0; i < names_.size(); ++i)
        {
            Delete(names_[i]);
            if (saved_[i].present)
                ::RegSetKeyValueW(HKEY_CURRENT_USER, Pd::Core::SettingsKey, names_[i].c_str(), saved_[i].type,
                                  saved_[i].data.data(), static_cast<DWORD>(saved_[i].data.size()));
        }
    }

    static void Delete(const std::wstring& name)
    {
        ::RegDeleteKeyValueW(HKEY_CURRENT_USER, Pd::Core::SettingsKey, name.c_str());
    }

    static std::optional<std::wstring> Text(const std::wstring& name)
    {
        std::wstring value = Pd::Core::ReadUserString(name, L"\x01missing");
        if (value == L"\x01missing")
            return std::nullopt;
        return value;
    }

private:
    struct Saved
    {
        bool present = false;
        DWORD type = 0;
        std::vector<std::uint8_t> data;
    };
    std::vector<std::wstring> names_;
    std::vector<Saved> saved_;
};

} // namespace PdTest
