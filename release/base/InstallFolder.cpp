#include "release/base/InstallFolder.h"

#include "core/Paths.h"
#include "core/Strings.h"

#include <windows.h>

namespace Pd::Core
{

InstallFolder InstallFolder::From(std::wstring_view path)
{
    InstallFolder folder;
    folder.path_ = NormalizeFolder(std::wstring(path));
    return folder;
}

std::wstring InstallFolder::Join(std::wstring_view name) const
{
    if (path_.empty())
        return {};
    if (path_.back() == L'\\')
        return path_ + std::wstring(name);
    return path_ + L"\\" + std::wstring(name);
}

bool operator==(const InstallFolder& a, const InstallFolder& b)
{
    return EqualsIgnoringCase(a.path_, b.path_);
}

std::wstring LongFolderPath(const std::wstring& folder)
{
    const bool share = folder.starts_with(L"\\\\");
    const bool drive = folder.size() >= 3 && folder[1] == L':' && folder[2] == L'\\';
    if (!share && !drive)
        return folder;
    // Past MAX_PATH only the extended form reaches a folder (Wine reads short names only without it);
    // the answer is read back without it.
    const std::wstring prefix = share ? L"\\\\?\\UNC\\" : L"\\\\?\\";
    const auto plain = [&](std::wstring path) {
        return path.starts_with(prefix) ? (share ? L"\\\\" : L"") + path.substr(prefix.size()) : path;
    };
    std::wstring existing = folder;
    for (;;)
    {
        const std::wstring query =
            existing.size() < MAX_PATH ? existing : prefix + existing.substr(share ? 2 : 0);
        const DWORD needed = ::GetLongPathNameW(query.c_str(), nullptr, 0);
        std::wstring resolved(needed, L'\0');
        const DWORD length = needed ? ::GetLongPathNameW(query.c_str(), resolved.data(), needed) : 0;
        if (length > 0 && length < needed)
        {
            resolved.resize(length);
            return plain(std::move(resolved)) + folder.substr(existing.size());
        }
        const DWORD error = ::GetLastError();
        if (length > 0 || (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND))
            return folder;
        // What does not exist yet stays as typed.
        const std::size_t separator = existing.rfind(L'\\');
        if (separator == std::wstring::npos || separator + 1 >= existing.size())
            return folder;
        existing.resize(drive && separator == 2 ? 3 : separator);
    }
}

} // namespace Pd::Core
