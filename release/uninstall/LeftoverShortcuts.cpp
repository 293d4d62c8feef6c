// The shortcuts part of the leftovers clean-up.
#include "release/uninstall/Leftovers.h"

#include "core/Handles.h"
#include "core/Strings.h"
#include "core/Text.h"
#include "release/folders/Folders.h"
#include "release/folders/NoLinks.h"
#include "release/folders/UserFolderFiles.h"
#include "release/windows/Packages.h"

#include <objidl.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <vector>

namespace Pd::Install
{
namespace
{

constexpr std::size_t TargetChars = 520;
constexpr std::size_t ArgumentChars = 1024;

bool IsShortcutName(const std::wstring& name)
{
    return name.size() >= 4 &&
           Core::EqualsIgnoringCase(std::wstring_view(name).substr(name.size() - 4), L".lnk");
}

// Gathers the shortcuts to Tovik below a folder; links to folders are not entered, and a folder
// that cannot be listed is passed over.
void CollectShortcuts(const std::wstring& folder, bool recursive, const OwnedPaths& owned,
                      std::vector<std::wstring>& found)
{
    WIN32_FIND_DATAW data{};
    UniqueFind find(::FindFirstFileExW(Core::JoinPath(folder, L"*").c_str(), FindExInfoBasic, &data,
                                       FindExSearchNameMatch, nullptr, 0));
    if (!find)
        return;
    std::vector<std::wstring> subfolders;
    do
    {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..")
            continue;
        const std::wstring path = Core::JoinPath(folder, name);
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        {
            if (recursive && !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                subfolders.push_back(path);
        }
        else if (!(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsShortcutName(name) &&
                 ShortcutPointsToTovik(path, owned))
            found.push_back(path);
    } while (::FindNextFileW(find.Get(), &data));
    find.Reset();
    for (const std::wstring& subfolder : subfolders)
        CollectShortcuts(subfolder, recursive, owned, found);
}

} // namespace

bool ShortcutPointsToTovik(const std::wstring& shortcutPath, const OwnedPaths& owned)
{
    ComPtr<IShellLinkW> link;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  link.PutVoid())))
        return false;
    ComPtr<IPersistFile> file = link.As<IPersistFile>();
    if (!file || FAILED(file->Load(shortcutPath.c_str(), STGM_READ)))
        return false;

    wchar_t target[TargetChars] = {};
    const std::wstring targetPath =
        link->GetPath(target, static_cast<int>(TargetChars), nullptr, SLGP_RAWPATH) == S_OK ? target : L"";
    wchar_t arguments[ArgumentChars] = {};
    const std::wstring argumentText =
        SUCCEEDED(link->GetArguments(arguments, static_cast<int>(ArgumentChars))) ? arguments : L"";

    if (Core::ContainsIgnoringCase(targetPath, TovikFamilyName))
        return true;
    if (!targetPath.empty() && owned.Holds(targetPath))
        return true;
    // The client's alias is matched exactly: the name alone, in any letter case, proves nothing.
    return targetPath.size() >= 14 && targetPath.ends_with(L"\\TovikClient.exe") &&
           Core::ContainsIgnoringCase(argumentText, L"tovik://");
}

void DeleteTovikShortcuts(LeftoverCleanup& cleanup, const std::wstring& folder, bool recursive,
                          const OwnedPaths& owned)
{
    if (folder.empty())
        return;
    if (!Core::IsFolder(folder))
        return;
    std::vector<std::wstring> found;
    CollectShortcuts(folder, recursive, owned, found);
    // The folders are the user's, who may swap one for a link after it was listed: a shortcut goes
    // only through a handle checked to be the file at its path, none reached through a link.
    const std::wstring root = UserFolderRoot(folder);
    for (const std::wstring& path : found)
    {
        if (auto deleted = DeleteBelow(root, path))
            ++cleanup.counts.shortcuts;
        else
            cleanup.report(std::move(deleted.error()));
    }
}

} // namespace Pd::Install
