#include "core/Paths.h"

#include <windows.h>

#include <filesystem>
#include <vector>

namespace Pd::Core
{
namespace
{

std::wstring FullPath(const std::wstring& path)
{
    std::vector<wchar_t> buffer(MAX_PATH);
    for (int attempt = 0; attempt < 4; ++attempt)
    {
        DWORD length =
            ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
        if (length == 0)
            return {};
        if (length < buffer.size())
            return std::wstring(buffer.data(), length);
        buffer.resize(length); // the size asked for, terminator included
    }
    return {};
}

} // namespace

std::wstring NormalizeFolder(const std::wstring& folder)
{
    if (folder.empty())
        return {};
    std::wstring full = FullPath(folder);
    if (full.empty())
        return {};
    // The path library reads "\\server\share" as a folder "\server" on the current drive; the
    // system's full path is already normal.
    if (full.starts_with(L"\\\\"))
    {
        while (full.size() > 2 && full.back() == L'\\')
            full.pop_back();
        return full;
    }
    std::filesystem::path normal = std::filesystem::path(full).lexically_normal();
    normal.make_preferred();
    std::wstring text = normal.wstring();
    if (normal.has_relative_path())
        while (!text.empty() && (text.back() == L'\\' || text.back() == L'/'))
            text.pop_back();
    return text;
}

} // namespace Pd::Core
