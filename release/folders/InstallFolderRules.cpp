#include "release/folders/InstallFolderRules.h"

#include "core/DefaultInstallFolder.h"
#include "core/ErrorText.h"
#include "core/Handles.h"
#include "core/Strings.h"
#include "core/Text.h"
#include "release/base/InstallFolder.h"
#include "release/base/OpenPath.h"
#include "release/base/PathRules.h"
#include "release/folders/FileTree.h"
#include "release/folders/Folders.h"
#include "release/folders/KnownFolder.h"
#include "release/folders/NoLinks.h"
#include "release/folders/ThisPc.h"

#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

#include <fmt/xchar.h>

#include <algorithm>
#include <optional>
#include <utility>

namespace Pd::Install
{
namespace
{

// MAX_PATH holds the terminator; a folder must leave room for an 8.3 name (CreateDirectoryW).
constexpr std::size_t FileLimit = MAX_PATH - 1;
constexpr std::size_t FolderLimit = MAX_PATH - 13;

bool IsSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

bool IsDriveLetter(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

// "X:" followed by a separator or nothing.
bool IsDrivePath(std::wstring_view text)
{
    return text.size() >= 2 && IsDriveLetter(text[0]) && text[1] == L':' &&
           (text.size() == 2 || IsSeparator(text[2]));
}

std::wstring_view Trimmed(std::wstring_view text, std::wstring_view characters)
{
    const std::size_t first = text.find_first_not_of(characters);
    if (first == std::wstring_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(characters) - first + 1);
}

std::wstring_view WithoutTrailing(std::wstring_view text, std::wstring_view characters)
{
    const std::size_t last = text.find_last_not_of(characters);
    return last == std::wstring_view::npos ? std::wstring_view() : text.substr(0, last + 1);
}

// A network share's root ("\\server\share\") and the path below it, from what follows the
// leading separators ("server\share\x"); the root is empty when that names no share.
std::pair<std::wstring, std::wstring_view> SplitShare(std::wstring_view path)
{
    const std::size_t serverEnd = path.find_first_of(L"\\/");
    if (serverEnd == 0 || serverEnd == std::wstring_view::npos)
        return {};
    const std::size_t shareEnd = std::min(path.find_first_of(L"\\/", serverEnd + 1), path.size());
    if (shareEnd == serverEnd + 1)
        return {};
    return {L"\\\\" + std::wstring(path.substr(0, serverEnd)) + L"\\" +
                std::wstring(path.substr(serverEnd + 1, shareEnd - serverEnd - 1)) + L"\\",
            path.substr(std::min(shareEnd + 1, path.size()))};
}

// The drive of the folder ("C:\") and the path below it. Extended and device forms of a drive path
// ("\\?\C:\x", "\\.\C:\x") are read as the plain path. A network share's folder is read as
// "\\server\share\x"; every other form is refused.
Result<std::pair<std::wstring, std::wstring_view>> SplitDrive(std::wstring_view text,
                                                              const std::wstring& shown)
{
    const bool prefixed = text.size() >= 4 && IsSeparator(text[0]) && IsSeparator(text[1]) &&
                          (text[2] == L'?' || text[2] == L'.') && IsSeparator(text[3]);
    std::optional<std::wstring_view> share;
    if (prefixed)
    {
        text.remove_prefix(4);
        if (text.size() > 3 && Core::StartsWithIgnoringCase(text, L"UNC") && IsSeparator(text[3]))
            share = text.substr(4);
        else if (!IsDrivePath(text))
            return Fail(Core::FormatText(TextId::InstallFolderUnusablePath, shown));
        else if (text.size() == 2) // the extended form of a drive is its root
            return std::pair{std::wstring(text) + L"\\", std::wstring_view()};
    }
    else if (text.size() >= 2 && IsSeparator(text[0]) && IsSeparator(text[1]))
    {
        share = text.substr(2);
    }
    if (share)
    {
        auto split = SplitShare(*share);
        if (split.first.empty())
            return Fail(Core::FormatText(TextId::InstallFolderOnNetworkShare, shown));
        return split;
    }
    if (!IsDrivePath(text) || text.size() == 2)
        return Fail(Core::FormatText(TextId::InstallFolderNotFullPath, shown));
    return std::pair{std::wstring(text.substr(0, 2)) + L"\\", text.substr(3)};
}

// The elements below the drive with "." and ".." resolved as Windows resolves them (".." never
// leaves the drive), and the last element without its trailing blanks and dots.
std::vector<std::wstring> Elements(std::wstring_view rest)
{
    std::vector<std::wstring_view> pieces;
    for (std::size_t at = 0; at < rest.size();)
    {
        const std::size_t end = std::min(rest.find_first_of(L"\\/", at), rest.size());
        if (end > at)
            pieces.push_back(rest.substr(at, end - at));
        at = end + 1;
    }
    if (!pieces.empty())
    {
        std::wstring_view& last = pieces.back();
        last = WithoutTrailing(last, L" ");
        if (last != L"." && last != L"..")
            last = WithoutTrailing(last, L" .");
    }
    std::vector<std::wstring> elements;
    for (std::wstring_view piece : pieces)
    {
        if (piece.empty() || piece == L".")
            continue;
        if (piece == L"..")
        {
            if (!elements.empty())
                elements.pop_back();
            continue;
        }
        elements.emplace_back(piece);
    }
    return elements;
}

std::wstring Joined(const std::wstring& root, const std::vector<std::wstring>& elements)
{
    std::wstring path = root;
    for (const std::wstring& element : elements)
        path = Core::JoinPath(path, element);
    return path;
}

// Whether the folder lies directly in the given one, in any letter case.
bool DirectlyIn(const std::wstring& folder, const std::wstring& parent)
{
    const std::wstring relative = Core::RelativePath(Core::ToLower(folder), Core::ToLower(parent));
    return !relative.empty() && relative != L"." && !relative.starts_with(L"..") &&
           relative.find(L'\\') == std::wstring::npos;
}

// A folder in normal form that is a drive's root ("C:\\").
bool IsDriveRoot(const std::wstring& folder)
{
    return folder.size() == 3;
}

// The parent of a folder in normal form; a drive root is its own parent.
std::wstring Parent(const std::wstring& folder)
{
    const std::size_t separator = folder.rfind(L'\\');
    return separator == std::wstring::npos || separator < 3 ? folder.substr(0, 3)
                                                            : folder.substr(0, separator);
}

// Creates a new file in the folder when it exists, else a new folder in its nearest existing
// parent (what the install does first), and removes it again. Only a name that did not exist is
// used, so nothing planted under that name is opened or removed. A folder that is a link is left
// to the install's own refusal, without writing through it.
Result<> ProbeWriting(const std::wstring& folder)
{
    std::wstring existing = folder;
    DWORD attributes = EntryAttributes(LongPathForm(existing));
    while (attributes == INVALID_FILE_ATTRIBUTES && Parent(existing) != existing)
    {
        existing = Parent(existing);
        attributes = EntryAttributes(LongPathForm(existing));
    }
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return Fail(
            Core::ErrorText(Core::FormatText(TextId::InstallFolderNotWritable, folder), ::GetLastError()));
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return Fail(Core::FormatText(TextId::InstallFolderIsFile, existing));
    if (existing == folder && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return {};
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 0; attempt < 8; ++attempt)
    {
        const std::wstring probe =
            Core::JoinPath(existing, fmt::format(L".peldra-check-{}-{}", ::GetCurrentProcessId(),
                                                 ::GetTickCount64() + attempt));
        if (existing == folder)
        {
            UniqueFile file = OpenPath(LongPathForm(probe), GENERIC_WRITE | DELETE, 0, CREATE_NEW,
                                       FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE);
            if (file)
                return {};
        }
        else if (::CreateDirectoryW(LongPathForm(probe).c_str(), nullptr))
        {
            RemoveEmptyFolder(existing, probe);
            return {};
        }
        error = ::GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            break;
    }
    return Fail(
        existing == folder
            ? Core::ErrorText(Core::FormatText(TextId::InstallFolderNotWritable, folder), error)
            : Core::ErrorText(Core::FormatText(TextId::InstallFolderNotCreated, folder, existing), error));
}

// Whether Windows holds this program to MAX_PATH. Windows 10 1607 and later tell (long paths need
// both the system setting and the program's manifest); without the call (Wine) there is no limit.
bool PathsAreLimited()
{
    using Query = BOOLEAN(WINAPI*)();
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    const auto query = ntdll ? reinterpret_cast<Query>(
                                   reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlAreLongPathsEnabled")))
                             : nullptr;
    return query && !query();
}

} // namespace

namespace Detail
{

WindowsFolders CurrentWindowsFolders()
{
    WindowsFolders folders{KnownFolderPath(FOLDERID_Windows), KnownFolderPath(FOLDERID_UserProfiles),
                           Core::MachineSystemFolders(),      ThisPcNames(),
                           Core::PerUserSystemFolders(),      Core::DefaultInstallFolder()};
    for (const KNOWNFOLDERID& id : {FOLDERID_PublicDocuments, FOLDERID_PublicDownloads, FOLDERID_PublicMusic,
                                    FOLDERID_PublicPictures, FOLDERID_PublicVideos, FOLDERID_CommonStartup})
        folders.owned.push_back(KnownFolderPath(id));
    for (const KNOWNFOLDERID& id :
         {FOLDERID_Music, FOLDERID_Pictures, FOLDERID_Videos, FOLDERID_Favorites, FOLDERID_Startup})
        folders.perUser.push_back(KnownFolderPath(id));
    return folders;
}

namespace
{

// A share path that names no folder on another PC: the share of Windows' pipes and mailslots on
// any server (each name below it is a pipe whose server would answer the open), and every share
// of this PC itself.
Result<> RefuseShareOfThisPc(const std::wstring& root, const std::wstring& shown,
                             const std::vector<std::wstring>& pcNames)
{
    const std::size_t serverEnd = root.find(L'\\', 2);
    const std::wstring_view server = std::wstring_view(root).substr(2, serverEnd - 2);
    const std::wstring_view share =
        WithoutTrailing(std::wstring_view(root).substr(serverEnd + 1, root.size() - serverEnd - 2), L" .");
    for (std::wstring_view pipes : {L"pipe", L"IPC$", L"mailslot"})
        if (Core::EqualsIgnoringCase(share, pipes))
            return Fail(Core::FormatText(TextId::InstallFolderOnPipeShare, shown, share));
    if (IsThisPc(server, pcNames))
        return Fail(Core::FormatText(TextId::InstallFolderOnThisPcShare, shown, server));
    return {};
}

Result<std::wstring> NormalForm(std::wstring_view typed, bool shares,
                                const std::vector<std::wstring>& pcNames)
{
    const std::wstring_view text = Trimmed(typed, L" \t");
    const std::wstring shown(text);
    auto drive = SplitDrive(text, shown);
    if (!drive)
        return std::unexpected(drive.error());
    // The pipe and own-PC refusals come first: they hold wherever shares are allowed or not.
    if (drive->first.starts_with(L"\\\\"))
    {
        if (auto refused = RefuseShareOfThisPc(drive->first, shown, pcNames); !refused)
            return std::unexpected(std::move(refused.error()));
        if (!shares)
            return Fail(Core::FormatText(TextId::InstallFolderOnNetworkShare, shown));
    }
    const std::vector<std::wstring> elements = Elements(drive->second);
    for (const std::wstring& element : elements)
    {
        if (HasForbiddenCharacter(element) || element.back() == L' ' || element.back() == L'.')
            return Fail(Core::FormatText(TextId::InstallFolderInvalidName, element, shown));
        if (IsReservedName(element))
            return Fail(Core::FormatText(TextId::InstallFolderDeviceName, element, shown));
    }
    return Joined(drive->first, elements);
}

} // namespace

Result<std::wstring> NormalFolderForm(std::wstring_view typed, const std::vector<std::wstring>& pcNames)
{
    return NormalForm(typed, true, pcNames);
}

Result<std::wstring> NormalInstallFolder(std::wstring_view typed, const WindowsFolders& windows)
{
    auto folder = NormalForm(typed, false, windows.pcNames);
    if (!folder)
    {
        // A network share refused now may hold an install made before the rule.
        if (auto share = NormalForm(typed, true, windows.pcNames))
            return Fail(HowToGoOn(folder.error(), *share));
        return folder;
    }
    if (IsDriveRoot(*folder))
        return Fail(HowToGoOn(Core::FormatText(TextId::InstallFolderIsDriveRoot, *folder), *folder));
    if (Core::Detail::IsUnderFolder(*folder, windows.windows))
        return Fail(HowToGoOn(
            Core::FormatText(TextId::InstallFolderInWindowsFolder, *folder, windows.windows), *folder));
    if (!windows.users.empty() && DirectlyIn(*folder, windows.users))
        return Fail(HowToGoOn(Core::FormatText(TextId::InstallFolderInProfilesFolder, *folder, windows.users),
                              *folder));
    std::vector<std::wstring> refused = windows.owned;
    for (const std::wstring& own : windows.perUser)
        if (windows.defaultFolder.empty() ||
            !Core::Detail::IsSystemFolderAmong(windows.defaultFolder, std::vector<std::wstring>{own}))
            refused.push_back(own);
    if (Core::Detail::IsSystemFolderAmong(*folder, refused))
        return Fail(HowToGoOn(Core::FormatText(TextId::InstallFolderIsSystemFolder, *folder), *folder));
    return folder;
}

Result<> CheckPathLengths(const std::wstring& folder, const Core::Manifest& manifest, std::size_t fileLimit,
                          std::size_t folderLimit)
{
    const std::wstring downloads = Core::JoinPath(folder, L".download");
    std::vector<std::pair<std::wstring, std::size_t>> paths = {
        {folder, folderLimit},
        {downloads, folderLimit},
        {Core::JoinPath(folder, L"peldra.json.new"), fileLimit},
        {Core::JoinPath(folder, L"release.json.new"), fileLimit},
    };
    for (const Core::Component& component : manifest.components)
    {
        paths.emplace_back(Core::JoinPath(downloads, component.id + L".zst"), fileLimit);
        std::wstring target = component.target;
        std::ranges::replace(target, L'/', L'\\');
        if (component.kind == Core::ComponentKind::Archive)
        {
            if (target != L".")
                paths.emplace_back(Core::JoinPath(folder, target), folderLimit);
        }
        else
        {
            paths.emplace_back(Core::JoinPath(folder, target) + L".new", fileLimit);
        }
    }
    for (const auto& [path, limit] : paths)
        if (path.size() > limit)
            return Fail(Core::FormatText(TextId::InstallFolderTooLong, folder, path, path.size(), limit));
    return {};
}

} // namespace Detail

Result<std::wstring> InstallFolderFromText(std::wstring_view typed)
{
    const Detail::WindowsFolders windows = Detail::CurrentWindowsFolders();
    auto folder = Detail::NormalInstallFolder(typed, windows);
    if (!folder)
        return folder;
    // The rules again on the long form: a short name can spell a folder they refuse.
    const std::wstring wide = Core::LongFolderPath(*folder);
    return wide == *folder ? folder : Detail::NormalInstallFolder(wide, windows);
}

Result<std::wstring> InstalledFolderFromText(std::wstring_view typed)
{
    auto folder = Detail::NormalFolderForm(typed, ThisPcNames());
    if (!folder)
        return folder;
    return Core::LongFolderPath(*folder);
}

std::wstring HowToGoOn(const std::wstring& refusal, const std::wstring& folder)
{
    if (folder.empty() || !Core::PathExists(Core::JoinPath(folder, L"peldra.json")))
        return refusal;
    return Core::FormatText(TextId::FolderHoldsEarlierRelease, refusal);
}

Result<> CheckInstallFolderUsable(const std::wstring& folder, const Core::Manifest& manifest)
{
    const std::wstring root = folder.substr(0, 3);
    if (::GetDriveTypeW(root.c_str()) == DRIVE_NO_ROOT_DIR)
        return Fail(Core::FormatText(TextId::DriveDoesNotExist, folder.substr(0, 2), folder));
    // What the uninstall would refuse to remove is refused before anything is written.
    if (auto way = CheckWayFromDrive(folder); !way)
        return way;
    if (auto written = ProbeWriting(folder); !written)
        return written;
    if (PathsAreLimited())
        return Detail::CheckPathLengths(folder, manifest, FileLimit, FolderLimit);
    return {};
}

} // namespace Pd::Install
