#include "release/uninstall/Uninstall.h"

#include "core/DataFolder.h"
#include "core/DefaultInstallFolder.h"
#include "core/Handles.h"
#include "core/host/HostControl.h"
#include "core/host/HostObjects.h"
#include "core/host/ScheduledTask.h"
#include "core/Module.h"
#include "core/Strings.h"
#include "core/Text.h"
#include "release/base/OpenPath.h"
#include "release/base/RunLock.h"
#include "release/folders/FileTree.h"
#include "release/folders/Folders.h"
#include "release/folders/FolderTrust.h"
#include "release/folders/InstallFolderChoice.h"
#include "release/folders/NoLinks.h"
#include "release/install/InstallRun.h"
#include "release/program/InstalledMsi.h"
#include "release/uninstall/UninstallSteps.h"
#include "release/unpack/RenameOver.h"
#include "release/windows/PackageDeployment.h"
#include "release/windows/SettingsShortcut.h"
#include "release/windows/TovikControl.h"

#include <windows.h>

#include <cstring>
#include <filesystem>

namespace Pd::Core
{

void UninstallValues::Report(const Callbacks& callbacks, const std::wstring& text)
{
    outcome.failures.push_back(text);
    LogLine(callbacks, Level::Warning, text);
}

void UninstallStage(const Callbacks& callbacks, TextId text, std::int32_t position)
{
    if (callbacks.progress)
        callbacks.progress(Progress{Text(text), position});
}

Result<> FindInstalled(const InstallFolder& installFolder, Removal removal, const Callbacks& callbacks,
                       UninstallValues& run)
{
    // The folder the user named or an elevated install recorded (InstallFolderChoice.h). The
    // package registration's install location is only a hint: any program of the user can
    // register a package of that name from any folder while developer mode is on.
    run.folder = installFolder;
    run.identity = Install::IdentifyInstallFolder(run.folder);
    run.package = Install::FindInstalledPackage();
    // Also when the folder was renamed since the install that recorded it registered Tovik from
    // it: the registration keeps the path of then, the record the folder's identity.
    run.ours = run.package && run.package->developmentMode &&
               (SameFile(run.package->installLocation, run.folder.Path()) ||
                Install::RegisteredFromRecordedFolder(run.package->installLocation, run.identity));
    run.state = ReadState(run.folder);
    run.stateFile = PathExists(run.folder.Join(L"peldra.json"));
    run.leftovers = HasInstallLeftovers(run.folder);
    // Without a state file only what the folder itself holds tells that a run cut off before its
    // state was written (or an older version) installed there: never a shortcut elsewhere.
    if (!run.ours && !run.stateFile && !run.leftovers && removal != Removal::Everything)
        return Fail(FormatText(TextId::NotInstalledIn, run.folder.Path()));
    if (run.package && !run.ours)
        LogLine(callbacks, Level::Warning,
                FormatText(TextId::TovikRegisteredByOtherStays, run.package->version,
                           run.package->installLocation));

    if (!run.ours)
        if (auto user = Install::FindPackageUsers();
            user && (user->installLocation.empty() || SameFile(user->installLocation, run.folder.Path())))
        {
            run.other = user;
            LogLine(callbacks, Level::Warning,
                    FormatText(TextId::TovikOfOtherUserStays, user->account, run.folder.Path()));
        }
    return {};
}

void StopHostAndTask(const Callbacks& callbacks, const Detail::UninstallSetting& setting,
                     UninstallValues& run)
{
    run.hostRan = setting.hostRunning();
    run.taskExisted = setting.taskRegistered();
    setting.stopHost();
    if (!run.other)
        if (auto removed = setting.setTaskRegistered(false); !removed && run.taskExisted)
            run.Report(callbacks, removed.error());
}

Result<> RemoveTovikPackage(Removal removal, const Callbacks& callbacks, UninstallValues& run)
{
    if (!run.ours)
        return {};
    UninstallStage(callbacks, TextId::RemovingTovikFromWindows);
    Install::ShutdownTovik(run.folder.Path(),
                           [&](const std::wstring& line) { LogLine(callbacks, Level::Info, line); });
    if (auto removed = Install::RemovePackage(run.package->fullName, removal == Removal::KeepData); !removed)
        return removed;
    if (removal == Removal::Everything)
        LogLine(callbacks, Level::Success, Text(TextId::TovikPackageDataRemoved));
    else
    {
        if (!run.dataFolder.empty())
            ForgetLanguageList(run.dataFolder);
        LogLine(callbacks, Level::Success,
                FormatText(TextId::TovikPackageRemovedDataKept, run.dataFolder,
                           FormatBytes(Install::DirectorySize(run.dataFolder))));
    }
    return {};
}

void MarkRemoving(const Callbacks& callbacks, UninstallValues& run)
{
    // Nothing is written into a folder whose files are not acted on (the removal says why).
    if (!run.stateFile || run.other ||
        !Install::CheckFolderTrust(run.folder.Path(), run.folder.Join(L"peldra.json")))
        return;
    run.state.unfinished = UnfinishedUninstall;
    // The mark only helps a cut-off uninstall's next run: without it the uninstall goes on, and the
    // warning says which file could not be written and that nothing stopped. A file another program
    // holds is named without the write's advice to close it and run the command again.
    if (auto written = WriteState(run.folder, run.state); !written)
    {
        const std::wstring state = run.folder.Join(L"peldra.json");
        LogLine(callbacks, Level::Warning,
                Install::IsHeldElsewhere(state)
                    ? FormatText(TextId::UninstallStateHeld, state)
                    : FormatText(TextId::UninstallStateNotWritten, written.error(), state));
    }
}

namespace
{

bool FileIdOf(HANDLE file, FILE_ID_INFO& id)
{
    return ::GetFileInformationByHandleEx(file, FileIdInfo, &id, sizeof(id)) != FALSE;
}

// Deletes the default install folder, when empty, through a handle of its own path that was
// checked to be no link and the very folder the user named: the text the user typed is never
// what is removed. Whether the folder goes.
bool RemoveDefaultFolderNamed(const std::wstring& named, const std::wstring& defaultFolder)
{
    // Without FILE_SHARE_DELETE, nobody renames it while it is checked and marked.
    const UniqueFile folder(Install::OpenPath(Install::LongPathForm(defaultFolder), DELETE | FILE_READ_ATTRIBUTES,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT));
    const UniqueFile typed(Install::OpenPath(Install::LongPathForm(named), FILE_READ_ATTRIBUTES,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
    FILE_ATTRIBUTE_TAG_INFO tag{};
    FILE_ID_INFO own{};
    FILE_ID_INFO other{};
    if (!folder || !typed ||
        !::GetFileInformationByHandleEx(folder.Get(), FileAttributeTagInfo, &tag, sizeof(tag)) ||
        (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        !(tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !FileIdOf(folder.Get(), own) ||
        !FileIdOf(typed.Get(), other) || own.VolumeSerialNumber != other.VolumeSerialNumber ||
        std::memcmp(&own.FileId, &other.FileId, sizeof(own.FileId)) != 0)
        return false;
    // Refused for a folder that is not empty; the folder goes when the handle closes.
    FILE_DISPOSITION_INFO remove{TRUE};
    return ::SetFileInformationByHandle(folder.Get(), FileDispositionInfo, &remove, sizeof(remove)) != FALSE;
}

// No install in the folder: an empty default install folder goes, any other empty one stays and
// the message says so.
Result<RemovalOutcome> RemoveEmptyDefaultFolder(const InstallFolder& installFolder,
                                                const Callbacks& callbacks,
                                                const Detail::UninstallSetting& setting,
                                                const std::wstring& notInstalled)
{
    const std::wstring& folder = installFolder.Path();
    std::error_code error;
    if (!IsRealFolder(folder) || !std::filesystem::is_empty(folder, error) || error)
        return Fail(notInstalled);
    // Only an install cut off at once leaves the default install folder empty; a folder the
    // user named may be the user's own.
    if (!RemoveDefaultFolderNamed(folder, setting.defaultFolder.Path()))
        return Fail(FormatText(TextId::NotInstalledEmptyFolderStays, folder));
    LogLine(callbacks, Level::Success, FormatText(TextId::RemovedEmptyCutOffFolder, folder));
    UninstallStage(callbacks, TextId::Done, 1000);
    return RemovalOutcome{};
}

// Once its state file is gone, the folder holds no install for the record or the per-user value
// to name.
void ForgetRemovedFolder(const UninstallValues& run)
{
    if (!run.other && !PathExists(run.folder.Join(L"peldra.json")))
        Install::ForgetInstallFolder(run.folder, run.identity);
}

} // namespace

namespace Detail
{

UninstallSetting CurrentUninstallSetting()
{
    return {
        ModulePath(),
        InstallFolder::From(DefaultInstallFolder()),
        DataFolder(),
        [] { return Install::FindInstalledMsi().has_value(); },
        [] { return static_cast<bool>(UniqueHandle(::OpenMutexW(SYNCHRONIZE, FALSE, Host::HostMutexName))); },
        [] { return Host::IsTaskRegistered(); },
        [] { Host::Stop(); },
        [](bool on) { return Host::SetTaskRegistered(on); }};
}

Result<RemovalOutcome> UninstallWith(const InstallFolder& installFolder, Removal removal,
                                     const Callbacks& callbacks, const UninstallSetting& setting)
{
    UninstallValues run;
    UninstallStage(callbacks, TextId::CheckingWindows);
    if (auto found = FindInstalled(installFolder, removal, callbacks, run); !found)
        return RemoveEmptyDefaultFolder(run.folder, callbacks, setting, found.error());
    StopHostAndTask(callbacks, setting, run);
    run.dataFolder = Install::TovikDataFolder();
    if (auto removed = RemoveTovikPackage(removal, callbacks, run); !removed)
        return std::unexpected(removed.error());
    MarkRemoving(callbacks, run);
    RemoveFiles(callbacks, setting, run);
    if (removal == Removal::KeepData)
    {
        RemoveStateAndFolder(removal, callbacks, setting, run);
        ForgetRemovedFolder(run);
        UninstallStage(callbacks, TextId::Done, 1000);
        return run.outcome;
    }

    UninstallStage(callbacks, TextId::RemovingWhatTovikLeft);
    RemoveAndroidLeftovers(callbacks, run);
    SwitchFeaturesOff(callbacks, run);
    RemoveBridgesAndData(callbacks, setting, run);
    DeleteProgramKeys(callbacks);
    RemoveStateAndFolder(removal, callbacks, setting, run);
    ForgetRemovedFolder(run);
    UninstallStage(callbacks, TextId::Done, 1000);
    return run.outcome;
}

} // namespace Detail

Result<RemovalOutcome> Uninstall(const InstallFolder& installFolder, Removal removal,
                                 const Callbacks& callbacks)
{
    auto lock =
        RunLock::Acquire([&](const std::wstring& line) { LogLine(callbacks, Level::Info, line); }, {});
    if (!lock)
        return std::unexpected(lock.error());
    return Detail::UninstallWith(installFolder, removal, callbacks, Detail::CurrentUninstallSetting());
}

} // namespace Pd::Core
