#include "release/base/OpenPath.h"

#include <windows.h>

namespace Pd::Install
{
namespace
{

// The attributes the listing of the entry's folder gives it: only the folder is opened, never
// the entry. None for a path whose last element is a pattern or that names no entry in a folder
// (a drive root).
DWORD ListedAttributes(const std::wstring& path)
{
    const std::size_t name = path.find_last_of(L"\\/");
    if (name == std::wstring::npos || name + 1 >= path.size() ||
        path.find_first_of(L"*?<>\"", name) != std::wstring::npos)
        return INVALID_FILE_ATTRIBUTES;
    WIN32_FIND_DATAW data{};
    UniqueFind find(
        ::FindFirstFileExW(path.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0));
    return find ? data.dwFileAttributes : INVALID_FILE_ATTRIBUTES;
}

} // namespace

UniqueFile OpenPath(const std::wstring& path, DWORD access, DWORD share, DWORD disposition, DWORD flags)
{
    return UniqueFile(
        ::CreateFileW(path.c_str(), access, share, nullptr, disposition, flags | IdentifyOnly, nullptr));
}

DWORD EntryAttributes(const std::wstring& path)
{
    UniqueFile entry =
        OpenPath(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
    if (!entry)
    {
        // A file held without sharing is still listed; a pipe never answers this way.
        const DWORD error = ::GetLastError();
        const DWORD listed =
            error == ERROR_SHARING_VIOLATION ? ListedAttributes(path) : INVALID_FILE_ATTRIBUTES;
        ::SetLastError(error);
        return listed;
    }
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!::GetFileInformationByHandleEx(entry.Get(), FileAttributeTagInfo, &tag, sizeof(tag)))
        return INVALID_FILE_ATTRIBUTES;
    // Only a file on a disk lies in a folder that can be listed.
    if (::GetFileType(entry.Get()) != FILE_TYPE_DISK)
        return tag.FileAttributes;
    const DWORD listed = ListedAttributes(path);
    return tag.FileAttributes |
           (listed == INVALID_FILE_ATTRIBUTES ? 0 : listed & FILE_ATTRIBUTE_REPARSE_POINT);
}

} // namespace Pd::Install
