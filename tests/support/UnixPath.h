// Paths that CTest hands to a test exe under Wine in environment variables: Unix paths, reached
// through Wine's drive Z:, which is the Unix root.
#pragma once

#include <windows.h>

#include <filesystem>
#include <string>

namespace PdTest
{

// The Windows form of the Unix path in the variable; empty when it is unset or too long.
inline std::filesystem::path PathFromEnvironment(const wchar_t* variable)
{
    wchar_t unix[1024];
    const DWORD length = ::GetEnvironmentVariableW(variable, unix, static_cast<DWORD>(std::size(unix)));
    if (length == 0 || length >= std::size(unix))
        return {};
    std::wstring path = L"Z:" + std::wstring(unix, length);
    for (wchar_t& c : path)
        if (c == L'/')
            c = L'\\';
    return path;
}

} // namespace PdTest
