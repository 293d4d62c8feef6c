#include "release/folders/Folders.h"

#include "core/Handles.h"
#include "core/Strings.h"
#include "release/base/OpenPath.h"
#include "release/folders/KnownFolder.h"

#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <limits>

namespace Pd::Core
{
namespace
{

bool HasDrivePrefix(const std::wstring& path)
{
    return path.size() > 5 && path.starts_with(L"\\\\?\\") &&
           ((path[4] >= L'A' && path[4] <= L'Z') || (path[4] >= L'a' && path[4] <= L'z')) && path[5] == L':';
}

// Lexically normal, one kind of separator, lower-cased.
std::wstring Comparable(const std::wstring& path)
{
    return ToLower(std::filesystem::path(path).lexically_normal().make_preferred().wstring());
}

bool Exists(const std::filesystem::path& path)
{
    return PathExists(path.wstring());
}

} // namespace

std::wstring RelativePath(const std::wstring& path, const std::wstring& base)
{
    std::wstring p = path;
    std::wstring b = base;
    if (HasDrivePrefix(p) && HasDrivePrefix(b))
    {
        p.erase(0, 4);
        b.erase(0, 4);
    }
    return std::filesystem::path(p).lexically_relative(std::filesystem::path(b)).wstring();
}

namespace Detail
{

bool IsSystemFolderAmong(const std::wstring& folder, const std::vector<std::wstring>& systemFolders)
{
    const std::filesystem::path path(Comparable(folder));
    if (path.empty() || !path.has_relative_path())
        return true;
    for (const std::wstring& system : systemFolders)
    {
        if (system.empty())
            continue;
        const std::filesystem::path relative(RelativePath(Comparable(system), path.wstring()));
        // The system folder itself, or one below the folder.
        if (!relative.empty() && *relative.begin() != L"..")
            return true;
    }
    return false;
}

bool IsUnderFolder(const std::wstring& folder, const std::wstring& programFiles)
{
    if (programFiles.empty())
        return false;
    const std::filesystem::path relative(RelativePath(Comparable(folder), Comparable(programFiles)));
    if (relative.empty() || relative == L".")
        return false;
    return *relative.begin() != L"..";
}

} // namespace Detail

bool IsUnderProgramFiles(const std::wstring& folder)
{
    return Detail::IsUnderFolder(folder, Install::KnownFolderPath(FOLDERID_ProgramFiles, 0));
}

std::uint64_t FreeSpace(const std::wstring& folder)
{
    constexpr std::uint64_t unknown = std::numeric_limits<std::uint64_t>::max();
    std::filesystem::path path(folder);
    while (!path.empty() && !Exists(path))
    {
        std::filesystem::path parent = path.parent_path();
        if (parent == path)
            return unknown;
        path = parent;
    }
    if (path.empty())
        return unknown;
    ULARGE_INTEGER freeToCaller{};
    if (!::GetDiskFreeSpaceExW(path.c_str(), &freeToCaller, nullptr, nullptr))
        return unknown;
    return freeToCaller.QuadPart;
}

bool PathExists(const std::wstring& path)
{
    return !path.empty() && Install::EntryAttributes(path) != INVALID_FILE_ATTRIBUTES;
}

bool IsFolder(const std::wstring& path)
{
    const DWORD attributes = Install::EntryAttributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsRealFolder(const std::wstring& path)
{
    const DWORD attributes = Install::EntryAttributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool SameFile(const std::wstring& a, const std::wstring& b)
{
    auto identify = [](const std::wstring& path, FILE_ID_INFO& id) {
        UniqueFile file = Install::OpenPath(path, FILE_READ_ATTRIBUTES,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
        return file && ::GetFileInformationByHandleEx(file.Get(), FileIdInfo, &id, sizeof(id));
    };
    FILE_ID_INFO first{};
    FILE_ID_INFO second{};
    if (!identify(a, first) || !identify(b, second))
        return false;
    return first.VolumeSerialNumber == second.VolumeSerialNumber &&
           std::memcmp(&first.FileId, &second.FileId, sizeof(first.FileId)) == 0;
}

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name)
{
    if (folder.empty() || folder.back() == L'\\' || folder.back() == L'/')
        return folder + name;
    return folder + L"\\" + name;
}

namespace
{

std::vector<std::wstring> KnownFolderPaths(std::initializer_list<KNOWNFOLDERID> ids)
{
    std::vector<std::wstring> folders;
    for (const KNOWNFOLDERID& id : ids)
        folders.push_back(Install::KnownFolderPath(id));
    return folders;
}

} // namespace

std::vector<std::wstring> MachineSystemFolders()
{
    return KnownFolderPaths({
        FOLDERID_Windows,
        FOLDERID_System,
        FOLDERID_SystemX86,
        FOLDERID_ProgramFiles,
        FOLDERID_ProgramFilesX86,
        FOLDERID_ProgramFilesCommon,
        FOLDERID_ProgramData,
        FOLDERID_UserProfiles,
        FOLDERID_Public,
        FOLDERID_PublicDesktop,
        FOLDERID_CommonStartMenu,
        FOLDERID_CommonPrograms,
    });
}

std::vector<std::wstring> PerUserSystemFolders()
{
    return KnownFolderPaths({
        FOLDERID_Profile,
        FOLDERID_Desktop,
        FOLDERID_Documents,
        FOLDERID_Downloads,
        FOLDERID_LocalAppData,
        FOLDERID_RoamingAppData,
        FOLDERID_StartMenu,
        FOLDERID_Programs,
    });
}

std::vector<std::wstring> SystemFolders()
{
    std::vector<std::wstring> folders = MachineSystemFolders();
    std::vector<std::wstring> perUser = PerUserSystemFolders();
    folders.insert(folders.end(), perUser.begin(), perUser.end());
    return folders;
}

bool IsSystemFolder(const std::wstring& folder)
{
    return Detail::IsSystemFolderAmong(folder, SystemFolders());
}

bool IsVolumeRoot(const std::wstring& path)
{
    wchar_t full[MAX_PATH + 1];
    wchar_t root[MAX_PATH + 1];
    const DWORD length = ::GetFullPathNameW(path.c_str(), MAX_PATH + 1, full, nullptr);
    if (length == 0 || length > MAX_PATH || !::GetVolumePathNameW(full, root, MAX_PATH + 1))
        return false;
    std::wstring a = full;
    std::wstring b = root;
    while (!a.empty() && a.back() == L'\\')
        a.pop_back();
    while (!b.empty() && b.back() == L'\\')
        b.pop_back();
    return ::CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

std::wstring SystemFolder()
{
    wchar_t folder[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(folder, length) : L"";
}

} // namespace Pd::Core
