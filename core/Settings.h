// Per-user settings: values under HKEY_CURRENT_USER "Software\Ormel\Peldra". The value names
// belong to the components that use them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace Pd::Core
{

inline constexpr const wchar_t* SettingsKey = L"Software\\Ormel\\Peldra";

// The REG_SZ value's text, or the default when it is missing, of another type or shorter than one
// character. A stored empty string gives an empty text.
std::wstring ReadUserString(const std::wstring& name, const std::wstring& fallback);

// The REG_DWORD value; none when it is missing or of another type.
std::optional<std::uint32_t> ReadUserDword(const std::wstring& name);

// Writes a REG_DWORD, creating the key when it is missing; returns the registry status (0 on success).
long WriteUserDword(const std::wstring& name, std::uint32_t value);

// Writes a REG_SZ with its terminating zero, creating the key when it is missing; returns the
// registry status (0 on success).
long WriteUserString(const std::wstring& name, std::wstring_view value);

} // namespace Pd::Core
