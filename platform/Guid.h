// GUIDs as text: the canonical upper-case form and a strict reader.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

namespace Pd::Platform
{

// "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" in upper case, in braces when asked.
std::wstring GuidText(const GUID& guid, bool braces);

// Reads exactly "{8-4-4-4-12}" (hexadecimal digits of either case, braces required); anything
// else, including blanks, gives none.
std::optional<GUID> ParseGuid(std::wstring_view text);

} // namespace Pd::Platform
