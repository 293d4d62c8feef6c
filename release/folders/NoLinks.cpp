#include "release/folders/NoLinks.h"

#include "core/ErrorText.h"
#include "core/Text.h"
#include "release/base/OpenPath.h"

#include <windows.h>

#include <fmt/xchar.h>

#include <algorithm>
#include <expected>
#include <optional>
#include <vector>

namespace Pd::Install
{
namespace
{

// The longest path Windows knows, in characters without the terminator.
constexpr std::size_t LongestPath = 32767;

std::wstring WithoutTrailingSeparator(std::wstring path)
{
    while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/'))
        path.pop_back();
    return path;
}

bool SameText(std::wstring_view a, std::wstring_view b)
{
    return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()),
                                  TRUE) == CSTR_EQUAL;
}

// The part of path below folder (both full), without a leading separator; none when path does
// not lie at or below folder.
std::optional<std::wstring> Below(const std::wstring& folder, const std::wstring& path)
{
    if (path.size() < folder.size() || !SameText(std::wstring_view(path).substr(0, folder.size()), folder))
        return std::nullopt;
    std::wstring rest = path.substr(folder.size());
    if (rest.empty())
        return rest;
    if (rest.front() != L'\\' && folder.back() != L'\\')
        return std::nullopt;
    return rest.substr(rest.front() == L'\\' ? 1 : 0);
}

std::unexpected<std::wstring> Behind(const std::wstring& path)
{
    return Fail(Core::FormatText(TextId::ReachedThroughLink, path));
}

DWORD Attributes(const std::wstring& path)
{
    return EntryAttributes(LongPathForm(path));
}

// How a handle's resolved place is read; both sides of a comparison are read the same way.
enum class Resolution
{
    FinalPath,  // the final path, every link followed
    VolumePath, // the volume's serial number and the path on it, every link followed as well
};

// Where Windows resolved an open handle to, or the Windows error of the failed call. Wine answers
// "more data" for a final path past MAX_PATH whatever the buffer; the volume path works there.
std::expected<std::wstring, DWORD> ResolvedPath(HANDLE handle, Resolution resolution)
{
    if (resolution == Resolution::FinalPath)
    {
        std::wstring path(MAX_PATH, L'\0');
        for (;;)
        {
            const DWORD length =
                ::GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()), 0);
            const DWORD error = ::GetLastError();
            if (length > 0 && length < path.size())
            {
                path.resize(length);
                return WithoutTrailingSeparator(path);
            }
            // Too short a buffer gets the longest one before anything is concluded.
            if ((length == 0 && error != ERROR_MORE_DATA && error != ERROR_NOT_ENOUGH_MEMORY) ||
                path.size() > LongestPath)
                return std::unexpected(length == 0 ? error : ERROR_MORE_DATA);
            path.resize(LongestPath + 1);
        }
    }
    BY_HANDLE_FILE_INFORMATION file{};
    std::vector<std::uint8_t> buffer(sizeof(FILE_NAME_INFO) + LongestPath * sizeof(wchar_t));
    auto* name = reinterpret_cast<FILE_NAME_INFO*>(buffer.data());
    if (!::GetFileInformationByHandle(handle, &file) ||
        !::GetFileInformationByHandleEx(handle, FileNameInfo, name, static_cast<DWORD>(buffer.size())))
        return std::unexpected(::GetLastError());
    return fmt::format(L"{:08X}:", file.dwVolumeSerialNumber) +
           WithoutTrailingSeparator(std::wstring(name->FileName, name->FileNameLength / sizeof(wchar_t)));
}

bool IsLink(HANDLE handle)
{
    FILE_ATTRIBUTE_TAG_INFO tag{};
    return ::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof(tag)) &&
           (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// The folder opened as itself: a link in its place is refused.
Result<UniqueFile> OpenFolderItself(const std::wstring& folder)
{
    UniqueFile handle = OpenPath(LongPathForm(folder), FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
    if (!handle)
        return Fail(Core::ErrorText(Core::FormatText(TextId::OpeningFile, folder), ::GetLastError()));
    if (IsLink(handle.Get()))
        return Fail(Core::FormatText(TextId::IsLinkOrMountPoint, folder));
    return handle;
}

} // namespace

std::wstring FullPath(const std::wstring& path)
{
    const DWORD needed = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return path;
    std::wstring full(needed, L'\0');
    const DWORD length = ::GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed)
        return path;
    full.resize(length);
    return full;
}

std::wstring LongPathForm(const std::wstring& path)
{
    if (path.starts_with(L"\\\\?\\") || path.starts_with(L"\\\\.\\"))
        return path;
    const std::wstring full = FullPath(path);
    if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\')
        return L"\\\\?\\" + full;
    if (full.starts_with(L"\\\\"))
        return L"\\\\?\\UNC\\" + full.substr(2);
    return full;
}

Result<> RefuseLinks(const std::wstring& folder, const std::wstring& path)
{
    const std::wstring base = WithoutTrailingSeparator(FullPath(folder));
    const std::wstring full = WithoutTrailingSeparator(FullPath(path));
    const auto rest = Below(base, full);
    if (!rest)
        return Behind(full);
    std::size_t end = base.size();
    for (;;)
    {
        const std::wstring current = full.substr(0, end);
        const DWORD attributes = Attributes(current);
        if (attributes == INVALID_FILE_ATTRIBUTES)
        {
            const DWORD error = ::GetLastError();
            if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
                return {};
            return Fail(Core::ErrorText(Core::FormatText(TextId::OpeningFile, current), error));
        }
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
            return Fail(Core::FormatText(TextId::IsLinkOrMountPoint, current));
        if (end >= full.size())
            return {};
        end = full.find(L'\\', end + 1);
        if (end == std::wstring::npos)
            end = full.size();
    }
}

Result<> CreateFoldersBelow(const std::wstring& folder, const std::wstring& path)
{
    if (auto checked = RefuseLinks(folder, path); !checked)
        return checked;
    const std::wstring base = WithoutTrailingSeparator(FullPath(folder));
    const std::wstring full = WithoutTrailingSeparator(FullPath(path));
    std::size_t end = base.size();
    while (end < full.size())
    {
        end = full.find(L'\\', end + 1);
        if (end == std::wstring::npos)
            end = full.size();
        const std::wstring current = full.substr(0, end);
        if (::CreateDirectoryW(LongPathForm(current).c_str(), nullptr))
            continue;
        const DWORD error = ::GetLastError();
        const DWORD attributes = Attributes(current);
        if (error != ERROR_ALREADY_EXISTS || attributes == INVALID_FILE_ATTRIBUTES ||
            !(attributes & FILE_ATTRIBUTE_DIRECTORY))
            return Fail(Core::ErrorText(Core::FormatText(TextId::CreatingFile, current), error));
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
            return Fail(Core::FormatText(TextId::IsLinkOrMountPoint, current));
    }
    return {};
}

namespace
{

// Whether Windows resolved the entry's handle to the folder handle's own place followed by rest.
Result<> CheckPlace(HANDLE entry, HANDLE folder, const std::wstring& rest, const std::wstring& full)
{
    // Windows resolves every link on the way; a path that differs from the folder's own resolved
    // path plus the names below it went through one.
    DWORD error = ERROR_SUCCESS;
    for (const Resolution resolution : {Resolution::FinalPath, Resolution::VolumePath})
    {
        auto resolvedFolder = ResolvedPath(folder, resolution);
        auto resolvedEntry = resolvedFolder ? ResolvedPath(entry, resolution) : resolvedFolder;
        if (!resolvedEntry)
        {
            error = resolvedEntry.error();
            continue;
        }
        // A drive's root read on its volume keeps its separator ("43000000:\" for a C: drive).
        const std::wstring& base = *resolvedFolder;
        const std::wstring expected =
            rest.empty() || base.ends_with(L'\\') ? base + rest : base + L"\\" + rest;
        return SameText(*resolvedEntry, expected) ? Result<>{} : Behind(full);
    }
    // A check that cannot be made is no proof of a link: it says what kept it from being made.
    return Fail(Core::ErrorText(Core::FormatText(TextId::CheckingForLinks, full), error));
}

} // namespace

Result<> CheckPlaceBelow(HANDLE entry, const std::wstring& folder, const std::wstring& path)
{
    const std::wstring full = FullPath(path);
    const std::wstring base = WithoutTrailingSeparator(FullPath(folder));
    auto folderHandle = OpenFolderItself(base);
    if (!folderHandle)
        return std::unexpected(std::move(folderHandle.error()));
    const auto rest = Below(base, full);
    if (!rest)
        return Behind(full);
    return CheckPlace(entry, folderHandle->Get(), *rest, full);
}

Result<> CheckWayFromDrive(const std::wstring& folder)
{
    const std::wstring full = WithoutTrailingSeparator(FullPath(folder));
    const std::wstring root = DriveRoot(full);
    if (root.empty())
        return Behind(full);
    // The deepest part that exists, opened as itself.
    std::wstring existing = full;
    UniqueFile entry;
    for (;;)
    {
        entry = OpenPath(LongPathForm(existing), FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
        if (entry)
            break;
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
            return Fail(Core::ErrorText(Core::FormatText(TextId::OpeningFile, existing), error));
        if (existing.size() <= root.size())
            return {}; // the drive itself is missing: the install's own checks say so
        const std::size_t separator = existing.rfind(L'\\');
        existing =
            separator == std::wstring::npos || separator < root.size() ? root : existing.substr(0, separator);
    }
    // Wine shows a Unix link only in its folder's listing, not through the handle.
    const DWORD attributes = Attributes(existing);
    if (IsLink(entry.Get()) ||
        (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)))
        return existing == full ? Fail(Core::FormatText(TextId::IsLinkOrMountPoint, full)) : Behind(full);
    const std::wstring base = WithoutTrailingSeparator(root);
    auto rootHandle = OpenFolderItself(base);
    if (!rootHandle)
        return std::unexpected(std::move(rootHandle.error()));
    const auto rest = Below(base, WithoutTrailingSeparator(existing));
    if (!rest)
        return Behind(full);
    return CheckPlace(entry.Get(), rootHandle->Get(), *rest, full);
}

Result<> CheckPlaceIn(HANDLE entry, HANDLE folder, const std::wstring& name, const std::wstring& path)
{
    if (name.empty() || name == L"." || name == L".." || name.find_first_of(L"\\/") != std::wstring::npos)
        return Behind(path);
    return CheckPlace(entry, folder, name, path);
}

Result<> CheckHandleBelow(HANDLE file, const std::wstring& folder, const std::wstring& path)
{
    if (IsLink(file))
        return Fail(Core::FormatText(TextId::IsLinkOrMountPoint, FullPath(path)));
    return CheckPlaceBelow(file, folder, path);
}

namespace
{

// OpenBelow; openError is the Windows error when the open itself failed (the text is then empty).
Result<UniqueFile> OpenChecked(const std::wstring& folder, const std::wstring& path, DWORD access,
                               DWORD share, DWORD disposition, DWORD& openError)
{
    const std::wstring full = FullPath(path);
    if (auto checked = RefuseLinks(folder, full); !checked)
        return std::unexpected(std::move(checked.error()));
    // DELETE lets a file created through a link go again.
    const DWORD extra = disposition == OPEN_EXISTING ? 0 : DELETE;
    UniqueFile file = OpenPath(LongPathForm(full), access | extra | FILE_READ_ATTRIBUTES, share, disposition,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT);
    const DWORD error = ::GetLastError();
    if (!file)
    {
        openError = error;
        return Fail(L"");
    }
    const bool created =
        disposition == CREATE_NEW || (disposition == OPEN_ALWAYS && error != ERROR_ALREADY_EXISTS);
    if (auto checked = CheckHandleBelow(file.Get(), folder, full); !checked)
    {
        if (created)
        {
            FILE_DISPOSITION_INFO remove{TRUE};
            ::SetFileInformationByHandle(file.Get(), FileDispositionInfo, &remove, sizeof(remove));
        }
        return std::unexpected(std::move(checked.error()));
    }
    return file;
}

} // namespace

Result<UniqueFile> OpenBelow(const std::wstring& folder, const std::wstring& path, DWORD access, DWORD share,
                             DWORD disposition)
{
    DWORD openError = 0;
    auto file = OpenChecked(folder, path, access, share, disposition, openError);
    if (!file && openError != 0)
        return Fail(Core::ErrorText(Core::FormatText(TextId::CreatingFile, FullPath(path)), openError));
    return file;
}

Result<> WriteWholeFile(const std::wstring& folder, const std::wstring& path, std::string_view bytes)
{
    DWORD openError = 0;
    auto file = OpenChecked(folder, path, GENERIC_WRITE, 0, OPEN_ALWAYS, openError);
    if (!file)
        return openError ? Fail(Core::FormatText(TextId::CannotCreate, path))
                         : std::unexpected(std::move(file.error()));
    DWORD written = 0;
    if (bytes.size() > MAXDWORD || !::SetEndOfFile(file->Get()) ||
        !::WriteFile(file->Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size())
        return Fail(Core::FormatText(TextId::CannotCreate, path));
    return {};
}

std::wstring DriveRoot(const std::wstring& path)
{
    const std::wstring full = FullPath(path);
    // The prefix before the drive letter, the volume's name or the server's name.
    struct Prefix
    {
        std::wstring_view text;
        bool share;
    };
    std::size_t start = 0;
    bool share = false;
    for (const Prefix prefix : {Prefix{L"\\\\?\\UNC\\", true}, Prefix{L"\\\\?\\", false},
                                Prefix{L"\\\\.\\", false}, Prefix{L"\\\\", true}})
        if (full.starts_with(prefix.text))
        {
            start = prefix.text.size();
            share = prefix.share;
            break;
        }
    // A share's root ends after its name, a drive's or a volume's after the first element.
    std::size_t end = full.find(L'\\', start);
    if (share && end != std::wstring::npos && end > start)
        end = full.find(L'\\', end + 1);
    if (end == start)
        return L"";
    return end == std::wstring::npos ? full + L"\\" : full.substr(0, end + 1);
}

Result<> DeleteBelow(const std::wstring& folder, const std::wstring& path)
{
    DWORD openError = 0;
    auto file = OpenChecked(folder, path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            OPEN_EXISTING, openError);
    if (!file)
    {
        const DWORD attributes = Attributes(path);
        if (attributes == INVALID_FILE_ATTRIBUTES && ::GetLastError() == ERROR_FILE_NOT_FOUND)
            return {};
        if (openError != 0)
            return Fail(Core::ErrorText(Core::FormatText(TextId::DeletingFile, path), openError));
        return std::unexpected(std::move(file.error()));
    }
    FILE_DISPOSITION_INFO remove{TRUE};
    if (!::SetFileInformationByHandle(file->Get(), FileDispositionInfo, &remove, sizeof(remove)))
        return Fail(Core::ErrorText(Core::FormatText(TextId::DeletingFile, path), ::GetLastError()));
    return {};
}

} // namespace Pd::Install
