// The file part of the uninstall run: the release's files in its folder, the program's copy in
// the default install folder, Magisk and the settings shortcut.
#include "release/uninstall/Uninstall.h"

#include "core/Strings.h"
#include "core/Text.h"
#include "release/base/PathRules.h"
#include "release/folders/FileTree.h"
#include "release/folders/Folders.h"
#include "release/folders/FolderTrust.h"
#include "release/folders/NoLinks.h"
#include "release/folders/UserFolderFiles.h"
#include "release/install/InstallRecords.h"
#include "release/install/InstallRun.h"
#include "release/install/StagingJournal.h"
#include "release/uninstall/UninstallSteps.h"
#include "release/verify/ReleaseFiles.h"
#include "release/windows/SettingsShortcut.h"

#include <windows.h>

#include <shlobj.h>

#include <algorithm>
#include <filesystem>
#include <set>

namespace Pd::Core
{
namespace
{

constexpr int FileRetries = 20;

bool DeleteAtRestart(const std::wstring& path)
{
    return ::MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}

// Whether the path lies in the default install folder, by its text: a delete at the next restart
// is carried out by that text, before any check of ours, so only a path in a folder where only
// administrators write may be scheduled (anywhere else a hard link of any name to the running
// program, or a junction put in place before the restart, would aim it at another file).
bool IsInDefaultFolder(const std::wstring& path, const InstallFolder& defaultFolder)
{
    const std::wstring relative =
        RelativePath(ToLower(Install::FullPath(path)), ToLower(Install::FullPath(defaultFolder.Path())));
    return !relative.empty() && !relative.starts_with(L"..");
}

// Whether the folder's own files may say what goes in it; when not, a warning says why, and it
// counts as what stayed.
bool MayActOnFilesIn(const std::wstring& folder, const Callbacks& callbacks, RemovalOutcome& outcome,
                     bool packageGone)
{
    auto trusted = Install::CheckFolderTrust(folder, JoinPath(folder, L"peldra.json"));
    if (trusted)
        return true;
    const std::wstring text = Install::NothingDeletedText(folder, trusted.error(), packageGone);
    outcome.failures.push_back(text);
    LogLine(callbacks, Level::Warning, text);
    return false;
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

// Names that the program's own installer package owns in the default install folder.
bool IsInstallerOwned(const std::wstring& name)
{
    return name == L"Peldra.exe" || name == L"Peldra.exe.new" || name == L"language" ||
           name == L"language.new";
}

std::wstring FirstElement(const std::wstring& record)
{
    return record.substr(0, record.find(L'\\'));
}

// Deepest first, so that a folder comes after everything recorded in it.
std::vector<std::wstring> DeepestFirst(const std::vector<std::wstring>& records)
{
    std::vector<std::wstring> sorted = records;
    std::ranges::sort(sorted);
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    const auto depth = [](const std::wstring& record) {
        return std::ranges::count(record, L'\\') - (IsFolderRecord(record) ? 1 : 0);
    };
    std::ranges::stable_sort(
        sorted, [&](const std::wstring& a, const std::wstring& b) { return depth(a) > depth(b); });
    return sorted;
}

// RemoveOrNote, counting in the folder's removal an entry that was there and went, or one that stayed.
void RemoveCounted(const std::wstring& path, const Callbacks& callbacks, RemovalOutcome& outcome,
                   Detail::FolderRemoval& removal)
{
    const bool existed = PathExists(path);
    const std::size_t failedBefore = outcome.failures.size();
    Detail::RemoveOrNote(path, callbacks, outcome);
    removal.stayed += outcome.failures.size() - failedBefore;
    if (existed && outcome.failures.size() == failedBefore)
        ++removal.deleted;
}

// A success only when nothing stayed; else how many did, and never "deleted" when nothing went.
void ReportReleaseFiles(const std::wstring& folder, const Detail::FolderRemoval& removal,
                        const Callbacks& callbacks)
{
    const std::uint64_t after = Install::DirectorySize(folder);
    const std::wstring freed = FormatBytes(removal.sizeBefore - std::min(after, removal.sizeBefore));
    if (removal.stayed == 0)
        LogLine(callbacks, Level::Success, FormatText(TextId::PeldraFilesDeleted, folder, freed));
    else if (removal.deleted == 0)
        LogLine(callbacks, Level::Warning,
                FormatText(removal.packageGone ? TextId::PeldraFilesNoneDeletedPackageGone
                                               : TextId::PeldraFilesNoneDeleted,
                           folder, removal.stayed));
    else
        LogLine(callbacks, Level::Warning,
                FormatText(removal.packageGone ? TextId::PeldraFilesPartlyDeletedPackageGone
                                               : TextId::PeldraFilesPartlyDeleted,
                           folder, freed, removal.stayed));
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

bool HasInstallLeftovers(const InstallFolder& folder)
{
    for (const wchar_t* name : {L".download", L"peldra.json.new", L"release.json", L"release.cat"})
        if (PathExists(folder.Join(name)))
            return true;
    return IsOwnReleaseFolder(folder.Path());
}

void ForgetLanguageList(const std::wstring& dataFolder)
{
    // The user's own programs can change the data folder: nothing is deleted through a link.
    static_cast<void>(Install::DeleteBelow(Install::UserFolderRoot(dataFolder),
                                           dataFolder + L"\\LocalState\\language_list_for_populated_apps"));
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

FolderRemoval RemoveReleaseFilesWith(const InstallFolder& installFolder, const InstallState& state,
                                     const Callbacks& callbacks, RemovalOutcome& outcome,
                                     bool ownInstallerPackage, const UninstallSetting& setting,
                                     bool packageGone)
{
    const std::wstring& folder = installFolder.Path();
    FolderRemoval removal;
    if (!IsFolder(folder) || !MayActOnFilesIn(folder, callbacks, outcome, packageGone))
        return removal;
    removal.actedOn = true;
    removal.packageGone = packageGone;
    // Keys with a record lose exactly what it lists; keys of an older state only their names,
    // each removed whole.
    std::set<std::wstring> known;
    for (const auto& [key, names] : state.entries)
        if (!state.placed.contains(key))
            known.insert(names.begin(), names.end());
    const bool stateFile = PathExists(JoinPath(folder, L"peldra.json"));
    if (!stateFile || !state.HasAllEntries())
    {
        if (IsOwnReleaseFolder(folder))
            for (const std::wstring& name : NamesIn(folder))
                known.insert(name);
        else
            LogLine(
                callbacks, Level::Warning,
                FormatText(stateFile ? TextId::OlderInstallKnownFilesOnly : TextId::NoInstallRecord, folder));
    }
    std::vector<std::wstring> records;
    for (const auto& [key, placed] : state.placed)
        for (const std::wstring& record : placed)
            if (IsSafeRecord(record) && !(ownInstallerPackage && IsInstallerOwned(FirstElement(record))))
                records.push_back(record);

    // The program's own working names; every other "*.new" goes only as a staged name the install
    // recorded (a record's, or one its journal lists), never because of its suffix.
    std::set<std::wstring> names = {L"peldra.json.new", L"release.json.new", L"release.cat.new", L".download",
                                    L"microsoft.system.package.metadata"};
    for (const std::wstring& name : known)
    {
        names.insert(name);
        names.insert(name + L".new");
    }
    if (ownInstallerPackage)
        std::erase_if(names, IsInstallerOwned);
    // The state file goes last (RemoveStateAndFolderWith): a run cut off before then is finished by
    // the next one.
    names.erase(L"peldra.json");

    removal.sizeBefore = Install::DirectorySize(folder);
    const auto stays = [&](const std::wstring& text) {
        outcome.failures.push_back(text);
        LogLine(callbacks, Level::Warning, text);
        ++removal.stayed;
    };
    const auto removeFile = [&](const std::wstring& path) {
        if (SameFile(path, setting.runningExe))
        {
            if (!IsInDefaultFolder(path, setting.defaultFolder))
            {
                stays(FormatText(TextId::RunningProgramOutsideDefaultStays, path,
                                 setting.defaultFolder.Path()));
                return;
            }
            if (DeleteAtRestart(path))
            {
                removal.programScheduled = true;
                return;
            }
        }
        RemoveCounted(path, callbacks, outcome, removal);
    };
    // What an unpack cut off had staged, before the download folder with its journals goes.
    if (auto undone = UndoStagingJournals(installFolder); !undone)
        stays(undone.error());
    for (const std::wstring& name : names)
        if (IsDeletableName(name))
            removeFile(JoinPath(folder, name));
    for (const std::wstring& record : DeepestFirst(records))
    {
        const std::wstring path =
            JoinPath(folder, IsFolderRecord(record) ? record.substr(0, record.size() - 1) : record);
        // A folder goes only when nothing is left in it; what now stands where a file was placed
        // goes only when it is no folder.
        if (IsFolderRecord(record))
            removal.deleted += Install::RemoveEmptyFolder(Install::DriveRoot(folder), path) ? 1 : 0;
        else if (!IsRealFolder(path))
        {
            removeFile(path);
            removeFile(path + L".new");
        }
    }
    return removal;
}

void RemoveStateAndFolderWith(const InstallFolder& installFolder, const InstallState& state,
                              const Callbacks& callbacks, RemovalOutcome& outcome, bool ownInstallerPackage,
                              const FolderRemoval& releaseFiles, const UninstallSetting& setting)
{
    const std::wstring& folder = installFolder.Path();
    // A folder not trusted was reported when its release files were left.
    const bool trusted =
        IsFolder(folder) && Install::CheckFolderTrust(folder, JoinPath(folder, L"peldra.json"));
    FolderRemoval removal = releaseFiles;
    if (trusted)
        RemoveCounted(JoinPath(folder, L"peldra.json"), callbacks, outcome, removal);
    if (removal.actedOn)
        ReportReleaseFiles(folder, removal, callbacks);
    if (!trusted)
        return;
    if (removal.programScheduled)
    {
        if (IsInDefaultFolder(folder, setting.defaultFolder))
            DeleteAtRestart(folder);
        return;
    }
    // A folder the user had before the install stays, even empty, as do the folders above it.
    // The folder and those above it may lie in a folder the user can change: none of them goes
    // when reached through a link.
    const std::wstring root = Install::DriveRoot(folder);
    const std::uint32_t created = state.createdFolders.value_or(1);
    if (created == 0 || !Install::RemoveEmptyFolder(root, folder))
    {
        if (!NamesIn(folder).empty() &&
            !(ownInstallerPackage && SameFile(folder, setting.defaultFolder.Path())))
            LogLine(callbacks, Level::Warning, FormatText(TextId::FolderKeptForeignFiles, folder));
        return;
    }
    std::filesystem::path parent(folder);
    for (std::uint32_t level = 1;
         level < created && parent.has_parent_path() && parent.parent_path() != parent; ++level)
    {
        parent = parent.parent_path();
        if (IsVolumeRoot(parent.wstring()) || !Install::RemoveEmptyFolder(root, parent.wstring()))
            break;
    }
}

void RemoveProgramFilesWith(const InstallFolder& folder, const Callbacks& callbacks, RemovalOutcome& outcome,
                            const UninstallSetting& setting)
{
    const std::wstring& defaultFolder = setting.defaultFolder.Path();
    const std::wstring program = defaultFolder + L"\\Peldra.exe";
    // A copy cut short leaves only its ".new" file, or nothing but the folder.
    const std::wstring copy = program + L".new";
    if (SameFile(folder.Path(), defaultFolder) || !IsFolder(defaultFolder))
        return;

    const bool scheduled = SameFile(program, setting.runningExe) && DeleteAtRestart(program);
    if (!scheduled && PathExists(program))
        RemoveOrNote(program, callbacks, outcome);
    if (PathExists(copy))
        RemoveOrNote(copy, callbacks, outcome);

    const std::wstring languages = defaultFolder + L"\\language";
    for (const std::wstring& name : NamesIn(languages))
        if (name.ends_with(L".lng") || name.ends_with(L".lng.new"))
            ::DeleteFileW((languages + L"\\" + name).c_str());
    ::RemoveDirectoryW(languages.c_str());

    if (scheduled)
        DeleteAtRestart(defaultFolder);
    else if (NamesIn(defaultFolder).empty())
        // A host stopped a moment ago may still hold its folder while it ends: tried again like
        // its files.
        RemoveOrNote(defaultFolder, callbacks, outcome);
    else
        ::RemoveDirectoryW(defaultFolder.c_str());
}

} // namespace Detail

void RemoveFiles(const Callbacks& callbacks, const Detail::UninstallSetting& setting, UninstallValues& run)
{
    UninstallStage(callbacks, TextId::DeletingFiles);
    const bool ownInstallerPackage = setting.ownInstallerPackage();
    if (!run.other)
    {
        const std::wstring magisk = setting.defaultFolder.Path() + L"\\Magisk";
        if (PathExists(magisk))
            Detail::RemoveOrNote(magisk, callbacks, run.outcome);
        run.releaseFiles = Detail::RemoveReleaseFilesWith(run.folder, run.state, callbacks, run.outcome,
                                                          ownInstallerPackage, setting, run.ours);
        if (!ownInstallerPackage)
            Detail::RemoveProgramFilesWith(run.folder, callbacks, run.outcome, setting);
    }
    // The Start menu is the user's: a shortcut goes only through a handle checked to be it.
    for (const std::wstring& shortcut : Install::FindTovikSettingsShortcuts())
        if (Install::DeleteBelow(
                Install::UserFolderRoot(std::filesystem::path(shortcut).parent_path().wstring()), shortcut))
            ::SHChangeNotify(SHCNE_DELETE, SHCNF_PATHW, shortcut.c_str(), nullptr);
}

void RemoveStateAndFolder(Removal removal, const Callbacks& callbacks,
                          const Detail::UninstallSetting& setting, UninstallValues& run)
{
    if (run.other)
        return;
    Detail::RemoveStateAndFolderWith(run.folder, run.state, callbacks, run.outcome,
                                     setting.ownInstallerPackage(), run.releaseFiles, setting);
    // Without a full record nobody can tell the release's files from the user's: what is left
    // may be either, and "everything" was not removed.
    if (removal == Removal::Everything && (run.stateFile || run.leftovers) &&
        (!run.stateFile || !run.state.HasAllEntries()) && !run.releaseFiles.programScheduled &&
        PathExists(run.folder.Path()))
        run.Report(callbacks, FormatText(TextId::UnrecordedFilesRemain, run.folder.Path()));
}

Install::OwnedPaths OwnedPathsOf(const InstallFolder& folder, const InstallState& state)
{
    Install::OwnedPaths owned;
    for (const auto& [key, names] : state.entries)
        if (!state.placed.contains(key))
            for (const std::wstring& name : names)
                if (IsDeletableName(name))
                    owned.trees.push_back(folder.Join(name));
    for (const auto& [key, records] : state.placed)
        for (const std::wstring& record : records)
            if (IsSafeRecord(record) && !IsFolderRecord(record))
                owned.files.push_back(folder.Join(record));
    return owned;
}

void RemoveReleaseFiles(const InstallFolder& folder, const InstallState& state, const Callbacks& callbacks,
                        RemovalOutcome& outcome, bool ownInstallerPackage)
{
    const Detail::UninstallSetting setting = Detail::CurrentUninstallSetting();
    const Detail::FolderRemoval removal =
        Detail::RemoveReleaseFilesWith(folder, state, callbacks, outcome, ownInstallerPackage, setting);
    Detail::RemoveStateAndFolderWith(folder, state, callbacks, outcome, ownInstallerPackage, removal,
                                     setting);
}

void RemoveProgramFiles(const InstallFolder& folder, const Callbacks& callbacks, RemovalOutcome& outcome)
{
    Detail::RemoveProgramFilesWith(folder, callbacks, outcome, Detail::CurrentUninstallSetting());
}

} // namespace Pd::Core
