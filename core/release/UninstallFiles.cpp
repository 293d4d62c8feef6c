// The file part of the uninstall run: the release's files in its folder and the program's copy
// in the default install folder.
#include "core/release/Uninstall.h"

#include "core/Paths.h"
#include "core/release/FileTree.h"
#include "core/release/Folders.h"
#include "core/release/InstallRun.h"
#include "core/release/PathRules.h"
#include "core/release/ReleaseFiles.h"
#include "core/Strings.h"
#include "core/Text.h"

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <set>

namespace Pd::Core
{
namespace
{

constexpr int FileRetries = 20;

bool Exists(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsFolder(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DeleteAtRestart(const std::wstring& path)
{
    return ::MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}

// Only a plain name of one entry directly in the folder may be deleted: never a path, a drive,
// a name Windows would read as another one (trailing dots or blanks) or a device.
bool IsDeletableName(const std::wstring& name)
{
    return !name.empty() && name != L"." && name != L".." &&
           name.find_first_of(L"\\/:") == std::wstring::npos && !Install::IsReservedName(name);
}

// An older state file lists no names: in a folder that is plainly Tovik's own release folder,
// everything directly in it counts as the release's.
bool IsOwnReleaseFolder(const std::wstring& folder)
{
    if (ToLower(std::filesystem::path(folder).filename().wstring()) != L"peldra")
        return false;
    const std::string manifest = ReadFileBytes(JoinPath(folder, L"AppxManifest.xml"));
    return manifest.find("Name=\"" + ToUtf8(Install::TovikPackageName) + "\"") != std::string::npos;
}

std::vector<std::wstring> NamesIn(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        names.push_back(it->path().filename().wstring());
    return names;
}

} // namespace

bool HasStateFile(const Install::PackageInfo& package)
{
    return package.developmentMode && !package.installLocation.empty() &&
           Exists(package.installLocation + L"\\peldra.json");
}

void ForgetLanguageList(const std::wstring& dataFolder)
{
    ::DeleteFileW((dataFolder + L"\\LocalState\\language_list_for_populated_apps").c_str());
}

namespace Detail
{

void RemoveOrNote(const std::wstring& path, const Callbacks& callbacks, RemovalOutcome& outcome)
{
    if (auto removed = Install::RemoveTree(path, FileRetries); !removed)
    {
        outcome.failures.push_back(path);
        LogLine(callbacks, Level::Warning, removed.error());
    }
}

void RemoveReleaseFilesWith(const std::wstring& folder, const InstallState& state, const Callbacks& callbacks,
                            RemovalOutcome& outcome, bool ownInstallerPackage,
                            const UninstallSetting& setting)
{
    if (!IsFolder(folder))
        return;
    std::set<std::wstring> known;
    for (const auto& [key, names] : state.entries)
        known.insert(names.begin(), names.end());
    if (!state.HasAllEntries())
    {
        if (IsOwnReleaseFolder(folder))
            for (const std::wstring& name : NamesIn(folder))
                known.insert(name);
        else
            LogLine(callbacks, Level::Warning, FormatText(17030, folder));
    }

    std::set<std::wstring> names = {L"peldra.json", L"peldra.json.new", L".download",
                                    L"microsoft.system.package.metadata"};
    for (const std::wstring& name : known)
    {
        names.insert(name);
        names.insert(name + L".new");
    }
    if (ownInstallerPackage)
        for (const wchar_t* owned : {L"Peldra.exe", L"Peldra.exe.new", L"language", L"language.new"})
            names.erase(owned);

    const std::uint64_t before = Install::DirectorySize(folder);
    bool programScheduled = false;
    for (const std::wstring& name : names)
    {
        if (!IsDeletableName(name))
            continue;
        const std::wstring path = JoinPath(folder, name);
        if (SameFile(path, setting.runningExe) && DeleteAtRestart(path))
        {
            programScheduled = true;
            continue;
        }
        RemoveOrNote(path, callbacks, outcome);
    }
    const std::uint64_t after = Install::DirectorySize(folder);
    LogLine(callbacks, Level::Success,
            FormatText(17028, folder, FormatBytes(before - std::min(after, before))));

    if (programScheduled)
        DeleteAtRestart(folder);
    else if (!::RemoveDirectoryW(folder.c_str()) && Exists(folder) &&
             !(ownInstallerPackage && SameFile(folder, setting.defaultFolder)))
        LogLine(callbacks, Level::Warning, FormatText(17029, folder));
}

void RemoveProgramFilesWith(const std::wstring& folder, const Callbacks& callbacks, RemovalOutcome& outcome,
                            const UninstallSetting& setting)
{
    const std::wstring defaultFolder = NormalizeFolder(setting.defaultFolder);
    const std::wstring program = defaultFolder + L"\\Peldra.exe";
    if (SameFile(NormalizeFolder(folder), defaultFolder) || !Exists(program))
        return;

    const bool scheduled = SameFile(program, setting.runningExe) && DeleteAtRestart(program);
    if (!scheduled)
        RemoveOrNote(program, callbacks, outcome);

    const std::wstring languages = defaultFolder + L"\\language";
    for (const std::wstring& name : NamesIn(languages))
        if (name.ends_with(L".lng"))
            ::DeleteFileW((languages + L"\\" + name).c_str());
    ::RemoveDirectoryW(languages.c_str());

    if (scheduled)
        DeleteAtRestart(defaultFolder);
    else
        ::RemoveDirectoryW(defaultFolder.c_str());
}

} // namespace Detail

void RemoveReleaseFiles(const std::wstring& folder, const InstallState& state, const Callbacks& callbacks,
                        RemovalOutcome& outcome, bool ownInstallerPackage)
{
    Detail::RemoveReleaseFilesWith(folder, state, callbacks, outcome, ownInstallerPackage,
                                   Detail::CurrentUninstallSetting());
}

void RemoveProgramFiles(const std::wstring& folder, const Callbacks& callbacks, RemovalOutcome& outcome)
{
    Detail::RemoveProgramFilesWith(folder, callbacks, outcome, Detail::CurrentUninstallSetting());
}

} // namespace Pd::Core
