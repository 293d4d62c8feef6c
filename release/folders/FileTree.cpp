#include "release/folders/FileTree.h"

#include "core/ErrorText.h"
#include "core/Handles.h"
#include "core/Strings.h"
#include "core/Text.h"
#include "release/base/InstallFolder.h"
#include "release/base/OpenPath.h"
#include "release/folders/Folders.h"
#include "release/folders/NoLinks.h"

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <optional>
#include <thread>
#include <utility>
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

void SleepUntil(std::chrono::steady_clock::time_point until)
{
    std::this_thread::sleep_until(until);
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

// Opens that a path the user can change cannot redirect: a final link is opened as itself (and
// OpenPath lets a pipe's server only identify this process).
constexpr DWORD EntryFlags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;

// FileDispositionInfoEx, which mingw-w64 declares only under a version test that never holds.
constexpr auto DispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(FileIdExtdDirectoryRestartInfo + 1);

// One removal under way: the first Windows error, or the text of a check that found a link
// (which no retry changes).
struct Removal
{
    DWORD error = 0;
    std::wstring refusal;

    void Note(DWORD failure)
    {
        if (!error)
            error = failure;
    }
    void Refuse(std::wstring text)
    {
        if (refusal.empty())
            refusal = std::move(text);
    }
    bool Failed() const { return error != 0 || !refusal.empty(); }
};

bool IsGone(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Opens an entry as itself for its deletion, and for its listing when the attributes it was
// found with say it is a folder (the handle's own attributes decide what is done with it). The
// right to change attributes (to clear read-only) is asked for where it is granted: Wine, run by
// a user other than root, refuses it for a read-only file, and there the handle clears the
// attribute without it.
UniqueFile OpenEntry(const std::wstring& path, DWORD attributes)
{
    const DWORD access =
        DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE | (IsFolder(attributes) ? FILE_LIST_DIRECTORY : 0);
    const auto open = [&](DWORD rights) {
        return OpenPath(LongPathForm(path), rights, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        OPEN_EXISTING, EntryFlags);
    };
    UniqueFile entry = open(access | FILE_WRITE_ATTRIBUTES);
    if (!entry && ::GetLastError() == ERROR_ACCESS_DENIED)
        entry = open(access);
    return entry;
}

std::optional<DWORD> HandleAttributes(HANDLE handle)
{
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof(tag)))
        return std::nullopt;
    return tag.FileAttributes;
}

// The names and attributes of what the open folder holds, read through its handle; the error is
// the Windows error of the listing (0 when it was complete).
DWORD ListOpenFolder(HANDLE folder, std::vector<std::pair<std::wstring, DWORD>>& entries)
{
    std::vector<std::uint64_t> buffer(64 * 1024 / sizeof(std::uint64_t));
    const auto bytes = reinterpret_cast<const std::uint8_t*>(buffer.data());
    const DWORD size = static_cast<DWORD>(buffer.size() * sizeof(std::uint64_t));
    for (auto kind = FileIdBothDirectoryRestartInfo;; kind = FileIdBothDirectoryInfo)
    {
        if (!::GetFileInformationByHandleEx(folder, kind, buffer.data(), size))
        {
            const DWORD error = ::GetLastError();
            return error == ERROR_NO_MORE_FILES ? 0 : error;
        }
        for (std::size_t at = 0;;)
        {
            const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(bytes + at);
            const std::size_t nameAt = at + offsetof(FILE_ID_BOTH_DIR_INFO, FileName);
            if (nameAt > size || entry->FileNameLength > size - nameAt)
                return ERROR_INVALID_DATA;
            std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..")
                entries.emplace_back(std::move(name), entry->FileAttributes);
            if (entry->NextEntryOffset == 0)
                break;
            at += entry->NextEntryOffset;
            if (at + sizeof(FILE_ID_BOTH_DIR_INFO) > size)
                return ERROR_INVALID_DATA;
        }
    }
}

// Marks the open entry for deletion: it goes when its last handle closes, or at once where the
// file system removes names the POSIX way. A read-only file loses that attribute first.
DWORD DeleteOpened(HANDLE handle, DWORD attributes)
{
    FILE_DISPOSITION_INFO_EX posix{FILE_DISPOSITION_FLAG_DELETE | FILE_DISPOSITION_FLAG_POSIX_SEMANTICS |
                                   FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE};
    if (::SetFileInformationByHandle(handle, DispositionInfoEx, &posix, sizeof(posix)))
        return 0;
    // Older Windows, other file systems and Wine know only the plain disposition.
    if (const DWORD error = ::GetLastError();
        error != ERROR_INVALID_PARAMETER && error != ERROR_NOT_SUPPORTED && error != ERROR_INVALID_FUNCTION)
        return error;
    FILE_BASIC_INFO basic{};
    if ((attributes & FILE_ATTRIBUTE_READONLY) &&
        ::GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof(basic)))
    {
        basic.FileAttributes &= ~FILE_ATTRIBUTE_READONLY;
        if (basic.FileAttributes == 0)
            basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        ::SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof(basic));
    }
    FILE_DISPOSITION_INFO remove{TRUE};
    return ::SetFileInformationByHandle(handle, FileDispositionInfo, &remove, sizeof(remove))
               ? 0
               : ::GetLastError();
}

void RemoveOpened(const std::wstring& path, HANDLE handle, Removal& removal);

// Removes what the open folder holds, as much as can go. Each entry is opened by its path and
// must then be the entry of that name in the folder this handle holds: a folder swapped for a
// link after it was opened leads nowhere else.
void RemoveChildren(const std::wstring& folder, HANDLE handle, Removal& removal)
{
    std::vector<std::pair<std::wstring, DWORD>> entries;
    if (const DWORD error = ListOpenFolder(handle, entries))
        removal.Note(error);
    for (const auto& [name, attributes] : entries)
    {
        const std::wstring path = Core::JoinPath(folder, name);
        UniqueFile entry = OpenEntry(path, attributes);
        if (!entry)
        {
            if (const DWORD error = ::GetLastError(); !IsGone(error))
                removal.Note(error);
            continue;
        }
        if (auto checked = CheckPlaceIn(entry.Get(), handle, name, path); !checked)
            removal.Refuse(std::move(checked.error()));
        else
            RemoveOpened(path, entry.Get(), removal);
    }
}

// A link goes as itself and is never entered; a folder goes after what it holds.
void RemoveOpened(const std::wstring& path, HANDLE handle, Removal& removal)
{
    const std::optional<DWORD> attributes = HandleAttributes(handle);
    if (!attributes)
        return removal.Note(::GetLastError());
    if (IsFolder(*attributes) && !IsLink(*attributes))
    {
        Removal inside;
        RemoveChildren(path, handle, inside);
        if (inside.Failed())
        {
            removal.Note(inside.error);
            if (!inside.refusal.empty())
                removal.Refuse(std::move(inside.refusal));
            return;
        }
    }
    if (const DWORD error = DeleteOpened(handle, *attributes))
        removal.Note(error);
}

// One attempt: nothing failed when the path is gone afterwards. Every element from root down to
// the path's folder must be free of links; the path itself, a link, goes as itself.
Removal RemoveOnce(const std::wstring& root, const std::wstring& path)
{
    Removal removal;
    const DWORD attributes = EntryAttributes(LongPathForm(path));
    if (attributes == INVALID_FILE_ATTRIBUTES)
    {
        if (const DWORD error = ::GetLastError(); !IsGone(error))
            removal.Note(error);
        return removal;
    }
    UniqueFile handle = OpenEntry(path, attributes);
    if (!handle)
    {
        if (const DWORD error = ::GetLastError(); !IsGone(error))
            removal.Note(error);
        return removal;
    }
    if (auto checked = CheckPlaceBelow(handle.Get(), root, path); !checked)
        removal.Refuse(std::move(checked.error()));
    else
        RemoveOpened(FullPath(path), handle.Get(), removal);
    return removal;
}

Result<> RemoveTreeFrom(const std::wstring& root, const std::wstring& path, int retries,
                        const Detail::WaitUntil& wait)
{
    const std::wstring text = Core::FormatText(TextId::DeletingFile, path);
    if (Core::IsVolumeRoot(path) || root.empty())
        return Fail(Core::ErrorText(text, ERROR_ACCESS_DENIED));
    for (int attempt = 0;; ++attempt)
    {
        const Removal removal = RemoveOnce(root, path);
        if (!removal.refusal.empty())
            return Fail(text + L": " + removal.refusal);
        if (!removal.Failed())
            return {};
        if (attempt >= retries)
            return Fail(Core::ErrorText(text, removal.error));
        wait(std::chrono::steady_clock::now() + std::chrono::seconds(1));
    }
}

} // namespace

namespace Detail
{

// The checks compare the paths Windows resolves, which hold long names, with the text: a path
// recorded with a short (8.3) name, as installs made it before they made their folder long, is
// read in its long form, which names the same entries (no link is followed for it).
Result<> RemoveTreeWith(const std::wstring& path, int retries, const WaitUntil& wait)
{
    const std::wstring wide = Core::LongFolderPath(FullPath(path));
    return RemoveTreeFrom(DriveRoot(wide), wide, retries, wait);
}

Result<> RemoveTreeBelowWith(const std::wstring& folder, const std::wstring& path, int retries,
                             const WaitUntil& wait)
{
    return RemoveTreeFrom(Core::LongFolderPath(FullPath(folder)), Core::LongFolderPath(FullPath(path)),
                          retries, wait);
}

} // namespace Detail

bool RemoveEmptyFolder(const std::wstring& root, const std::wstring& path)
{
    UniqueFile handle = OpenEntry(path, 0);
    const std::optional<DWORD> attributes = handle ? HandleAttributes(handle.Get()) : std::nullopt;
    // Deleting a folder that still holds anything fails: its entries stay where they are.
    return attributes && IsFolder(*attributes) && !IsLink(*attributes) &&
           CheckPlaceBelow(handle.Get(), root, path) && DeleteOpened(handle.Get(), *attributes) == 0;
}

void RemoveEmptyFolders(const std::wstring& root, std::vector<std::wstring> folders)
{
    // A folder's path is longer than the path of every folder it lies in.
    std::ranges::sort(folders,
                      [](const std::wstring& a, const std::wstring& b) { return a.size() > b.size(); });
    for (const std::wstring& folder : folders)
        RemoveEmptyFolder(root, folder);
}

Result<> RemoveTree(const std::wstring& path, int retries)
{
    return Detail::RemoveTreeWith(path, retries, SleepUntil);
}

Result<> RemoveTreeBelow(const std::wstring& folder, const std::wstring& path, int retries)
{
    return Detail::RemoveTreeBelowWith(folder, path, retries, SleepUntil);
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
