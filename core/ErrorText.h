// Complete user-facing error texts from a step text and a Windows, HRESULT or WMI code.
#pragma once

#include <cstdint>
#include <string>

namespace Pd::Core
{

// "<step>: <the system's message in the current language> (code <code>)"; the code in decimal
// below 0x80000000, else as 0x%08X. Never fails: a code without a message says "unknown error".
std::wstring ErrorText(const std::wstring& step, std::uint32_t code);

} // namespace Pd::Core
