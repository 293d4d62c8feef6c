#include "release/install/InstallRecords.h"

#include "core/Handles.h"
#include "core/Strings.h"
#include "release/base/PathRules.h"
#include "release/folders/Folders.h"

#include <windows.h>

#include <algorithm>
#include <filesystem>

namespace Pd::Core
{
namespace
{

std::wstring Below(const std::wstring& root, const std::wstring& relative)
{
    return relative.empty() ? root : JoinPath(root, relative);
}

// Every folder below a folder, without entering links.
void AddFoldersBelow(const std::wstring& root, const std::wstring& relative, std::set<std::wstring>& folders)
{
    WIN32_FIND_DATAW data{};
    UniqueFind find(::FindFirstFileExW(JoinPath(Below(root, relative), L"*").c_str(), FindExInfoBasic, &data,
                                       FindExSearchNameMatch, nullptr, 0));
    if (!find)
        return;
    std::vector<std::wstring> below;
    do
    {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L".." && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            below.push_back(relative.empty() ? name : relative + L"\\" + name);
    } while (::FindNextFileW(find.Get(), &data));
    find.Reset();
    for (const std::wstring& folder : below)
    {
        folders.insert(folder + L"\\");
        AddFoldersBelow(root, folder, folders);
    }
}

} // namespace

std::set<std::wstring> ExistingFolders(const InstallFolder& installFolder, const std::wstring& target)
{
    const std::wstring& root = installFolder.Path();
    std::set<std::wstring> folders;
    std::wstring relative;
    for (const auto& element : std::filesystem::path(target).make_preferred().lexically_normal())
    {
        const std::wstring name = element.wstring();
        if (name.empty() || name == L"." || name == L"\\")
            continue;
        const std::wstring next = relative.empty() ? name : relative + L"\\" + name;
        if (!IsRealFolder(JoinPath(root, next)))
            return folders;
        relative = next;
        folders.insert(relative + L"\\");
    }
    if (IsRealFolder(Below(root, relative)))
        AddFoldersBelow(root, relative, folders);
    return folders;
}

std::vector<std::wstring> PlacedRecord(const InstallFolder& installFolder,
                                       const std::vector<std::wstring>& files,
                                       const std::set<std::wstring>& foldersBefore,
                                       const std::set<std::wstring>& foldersAfter)
{
    const std::wstring& root = installFolder.Path();
    std::vector<std::wstring> record;
    for (const std::wstring& file : files)
        if (std::wstring relative = RelativePath(file, root);
            !relative.empty() && relative != L"." && !relative.starts_with(L".."))
            record.push_back(std::move(relative));
    for (const std::wstring& folder : foldersAfter)
        if (!foldersBefore.contains(folder))
            record.push_back(folder);
    return record;
}

std::vector<std::wstring> JoinRecords(const std::vector<std::wstring>& earlier,
                                      const std::vector<std::wstring>& added)
{
    std::vector<std::wstring> joined = earlier;
    std::set<std::wstring> known(earlier.begin(), earlier.end());
    for (const std::wstring& record : added)
        if (known.insert(record).second)
            joined.push_back(record);
    return joined;
}

std::vector<std::wstring> RecordsStillThere(const InstallFolder& installFolder,
                                            const std::vector<std::wstring>& records)
{
    const std::wstring& root = installFolder.Path();
    std::vector<std::wstring> there;
    for (const std::wstring& record : records)
    {
        if (!IsSafeRecord(record))
            continue;
        const std::wstring path =
            JoinPath(root, IsFolderRecord(record) ? record.substr(0, record.size() - 1) : record);
        if (PathExists(path) || (!IsFolderRecord(record) && PathExists(path + L".new")))
            there.push_back(record);
    }
    return there;
}

std::vector<std::wstring> FolderRecords(const InstallFolder& installFolder,
                                        const std::vector<std::wstring>& names)
{
    const std::wstring& root = installFolder.Path();
    std::vector<std::wstring> records;
    for (const std::wstring& name : names)
        if (std::wstring record = name + L"\\";
            IsSafeRecord(record) && record.find(L'\\') == name.size() && IsRealFolder(JoinPath(root, name)))
            records.push_back(std::move(record));
    return records;
}

bool IsFolderRecord(const std::wstring& record)
{
    return record.ends_with(L'\\');
}

bool IsSafeRecord(const std::wstring& record)
{
    std::wstring path = record;
    if (IsFolderRecord(path))
        path.pop_back();
    if (path.empty() || path.find(L'/') != std::wstring::npos)
        return false;
    const auto relative = Install::RelativeEntryPath(ToUtf8(path));
    return relative && *relative == path;
}

bool HoldsForeignFiles(const InstallFolder& installFolder, bool isDefaultFolder)
{
    const std::wstring& folder = installFolder.Path();
    if (folder.empty() || PathExists(JoinPath(folder, L"peldra.json")))
        return false;
    WIN32_FIND_DATAW data{};
    UniqueFind find(::FindFirstFileExW(JoinPath(folder, L"*").c_str(), FindExInfoBasic, &data,
                                       FindExSearchNameMatch, nullptr, 0));
    if (!find)
        return false;
    do
    {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L".." || name == L".download" || name == L"peldra.json.new")
            continue;
        if (isDefaultFolder && (name == L"Peldra.exe" || name == L"language" || name == L"Magisk"))
            continue;
        return true;
    } while (::FindNextFileW(find.Get(), &data));
    return false;
}

} // namespace Pd::Core
