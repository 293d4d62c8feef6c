#include "core/release/folders/FileTree.h"

#include "core/ErrorText.h"
#include "core/Handles.h"
#include "core/release/folders/Folders.h"
#include "core/release/folders/NoLinks.h"
#include "core/Strings.h"
#include "core/Text.h"

#include <windows.h>

#include <algorithm>
#include <thread>
#include <vector>

namespace Pd::Install
{
namespace
{

struct Entry
{
    std::wstring path;
    DWORD attributes = 0;
    std::uint64_t size = 0;
};

bool IsLink(DWORD attributes)
{
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool IsFolder(DWORD attributes)
{
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The entries directly in a folder, read before anything is changed in it. The error is the
// Windows error of the listing (0 when it was complete).
DWORD ListFolder(const std::wstring& folder, std::vector<Entry>& entries)
{
    WIN32_FIND_DATAW data{};
    UniqueFind find(::FindFirstFileExW(Core::JoinPath(folder, L"*").c_str(), FindExInfoBasic, &data,
                                       FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (!find)
    {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? 0 : error;
    }
    do
    {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..")
            continue;
        entries.push_back({Core::JoinPath(folder, name), data.dwFileAttributes,
                           (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow});
    } while (::FindNextFileW(find.Get(), &data));
    const DWORD error = ::GetLastError();
    return error == ERROR_NO_MORE_FILES ? 0 : error;
}

DWORD DeleteFileEntry(const std::wstring& path, DWORD attributes)
{
    if (::DeleteFileW(path.c_str()))
        return 0;
    DWORD error = ::GetLastError();
    // A read-only file refuses deletion until the attribute is gone.
    if (error == ERROR_ACCESS_DENIED && (attributes & FILE_ATTRIBUTE_READONLY) &&
        ::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY) &&
        ::DeleteFileW(path.c_str()))
        return 0;
    return ::GetLastError();
}

DWORD RemoveEntry(const Entry& entry);

// Removes what a folder holds, as much as can go; the first error, or 0.
DWORD RemoveChildren(const std::wstring& folder)
{
    std::vector<Entry> entries;
    DWORD first = ListFolder(folder, entries);
    for (const Entry& entry : entries)
        if (DWORD error = RemoveEntry(entry); error && !first)
            first = error;
    return first;
}

DWORD RemoveEntry(const Entry& entry)
{
    if (!IsFolder(entry.attributes))
        return DeleteFileEntry(entry.path, entry.attributes);
    // A link or junction to a folder goes as itself: its target is never entered.
    if (::RemoveDirectoryW(entry.path.c_str()))
        return 0;
    const DWORD error = ::GetLastError();
    if (error != ERROR_DIR_NOT_EMPTY || IsLink(entry.attributes))
        return error;
    if (DWORD children = RemoveChildren(entry.path))
        return children;
    return ::RemoveDirectoryW(entry.path.c_str()) ? 0 : ::GetLastError();
}

// One attempt: 0 when the path is gone afterwards.
DWORD RemoveOnce(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
    {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 0 : error;
    }
    return RemoveEntry({path, attributes});
}

} // namespace

namespace Detail
{

Result<> RemoveTreeWith(const std::wstring& path, int retries, const WaitUntil& wait)
{
    if (Core::IsVolumeRoot(path))
        return Fail(Core::ErrorText(Core::FormatText(18024, path), ERROR_ACCESS_DENIED));
    for (int attempt = 0;; ++attempt)
    {
        const DWORD error = RemoveOnce(path);
        if (error == 0)
            return {};
        if (attempt >= retries)
            return Fail(Core::ErrorText(Core::FormatText(18024, path), error));
        wait(std::chrono::steady_clock::now() + std::chrono::seconds(1));
    }
}

} // namespace Detail

void RemoveEmptyFolders(std::vector<std::wstring> folders)
{
    // A folder's path is longer than the path of every folder it lies in.
    std::ranges::sort(folders,
                      [](const std::wstring& a, const std::wstring& b) { return a.size() > b.size(); });
    for (const std::wstring& folder : folders)
        if (Core::IsRealFolder(folder))
            ::RemoveDirectoryW(LongPathForm(folder).c_str());
}

Result<> RemoveTree(const std::wstring& path, int retries)
{
    return Detail::RemoveTreeWith(path, retries, [](std::chrono::steady_clock::time_point until) {
        std::this_thread::sleep_until(until);
    });
}

std::uint64_t DirectorySize(const std::wstring& folder)
{
    std::uint64_t total = 0;
    std::vector<std::wstring> pending{folder};
    while (!pending.empty())
    {
        const std::wstring current = std::move(pending.back());
        pending.pop_back();
        std::vector<Entry> entries;
        const DWORD error = ListFolder(current, entries);
        // A folder below that this account may not open is skipped; any other failure ends the walk.
        if (error && error != ERROR_ACCESS_DENIED)
            break;
        for (const Entry& entry : entries)
        {
            if (!IsFolder(entry.attributes))
                total += entry.size;
            else if (!IsLink(entry.attributes))
                pending.push_back(entry.path);
        }
    }
    return total;
}

} // namespace Pd::Install
