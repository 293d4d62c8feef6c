#include "core/Settings.h"

#include <windows.h>

#include <vector>

namespace Pd::Core
{

std::wstring ReadUserString(const std::wstring& name, const std::wstring& fallback)
{
    DWORD size = 0;
    LSTATUS status =
        ::RegGetValueW(HKEY_CURRENT_USER, SettingsKey, name.c_str(), RRF_RT_REG_SZ, nullptr, nullptr, &size);
    if (status != ERROR_SUCCESS || size < sizeof(wchar_t))
        return fallback;

    // Whole UTF-16 units plus one zero unit, so that the text is terminated whatever was stored.
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
    DWORD read = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    status = ::RegGetValueW(HKEY_CURRENT_USER, SettingsKey, name.c_str(), RRF_RT_REG_SZ, nullptr,
                            buffer.data(), &read);
    if (status != ERROR_SUCCESS || read < sizeof(wchar_t))
        return fallback;
    buffer.back() = L'\0';
    return std::wstring(buffer.data());
}

std::optional<std::uint32_t> ReadUserDword(const std::wstring& name)
{
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (::RegGetValueW(HKEY_CURRENT_USER, SettingsKey, name.c_str(), RRF_RT_REG_DWORD, nullptr, &value,
                       &size) != ERROR_SUCCESS)
        return std::nullopt;
    return value;
}

long WriteUserDword(const std::wstring& name, std::uint32_t value)
{
    DWORD data = value;
    return ::RegSetKeyValueW(HKEY_CURRENT_USER, SettingsKey, name.c_str(), REG_DWORD, &data, sizeof(data));
}

long WriteUserString(const std::wstring& name, std::wstring_view value)
{
    std::wstring terminated(value);
    auto bytes = static_cast<DWORD>((terminated.size() + 1) * sizeof(wchar_t));
    return ::RegSetKeyValueW(HKEY_CURRENT_USER, SettingsKey, name.c_str(), REG_SZ, terminated.c_str(), bytes);
}

} // namespace Pd::Core
