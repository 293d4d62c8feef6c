// The second half of the install run: from the switch-over of the staged files to the package
// registration, the program copy and the Start-menu shortcut.
#include "core/Settings.h"
#include "core/Strings.h"
#include "core/Text.h"
#include "guest/AndroidVm.h"
#include "release/base/MachineRecords.h"
#include "release/download/Net.h"
#include "release/folders/FileTree.h"
#include "release/folders/Folders.h"
#include "release/install/InstallRecords.h"
#include "release/install/InstallRunSteps.h"
#include "release/install/StagingJournal.h"
#include "release/verify/DigestCache.h"
#include "release/verify/ReleaseVerification.h"
#include "release/windows/Features.h"
#include "release/windows/PackageDeployment.h"
#include "release/windows/Packages.h"
#include "release/windows/SettingsShortcut.h"
#include "release/windows/TovikControl.h"

#include <algorithm>
#include <filesystem>
#include <set>

namespace Pd::Core
{
namespace
{

constexpr std::uint32_t LastBuildWithoutPatch = 27999;

LogText LogAt(const Callbacks& callbacks, Level level)
{
    return [&callbacks, level](const std::wstring& line) { LogLine(callbacks, level, line); };
}

Outcome Done(RunValues& run, bool restartNeeded, std::int32_t count)
{
    run.tracker.Stage(Text(TextId::Done), DonePosition);
    return Outcome{restartNeeded, count};
}

// After a successful run the download folder holds only what the installed release needs: with
// keep downloads the complete, verified download of each of its components, else nothing. An
// older release's downloads, partial files and journals of runs cut off all go.
void CleanDownloads(const Options& options, const RunValues& run)
{
    const std::wstring folder = DownloadFolder(options.installFolder);
    // What a run cut off staged for a component this run did not unpack goes with its journal.
    // The install folder passed its check; a journal it refuses is left as it is.
    static_cast<void>(UndoStagingJournals(options.installFolder));
    std::set<std::wstring> keep;
    if (options.keepDownloads)
        for (const PlannedComponent& item : run.plan.items)
        {
            const Component& component = item.component;
            const std::wstring path = DownloadPath(options.installFolder, component);
            std::error_code error;
            if (std::filesystem::file_size(path, error) != component.packedSize || error)
                continue;
            // What this run fetched was verified as it came; an earlier run's is checked now.
            if (item.needed ||
                EqualsIgnoringCase(Net::FileSha256(path, {}, {}).value_or(L""), component.packedSha256))
                keep.insert(std::filesystem::path(path).filename().wstring());
        }
    if (keep.empty())
    {
        static_cast<void>(Install::RemoveTreeBelow(options.installFolder.Path(), folder, 0));
        return;
    }
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        if (const std::wstring name = it->path().filename().wstring(); !keep.contains(name))
            static_cast<void>(
                Install::RemoveTreeBelow(options.installFolder.Path(), it->path().wstring(), 0));
}

// Until the records and the release files catch up with the switched files, the folder holds a
// mix of two releases: the state file says so, and already lists the new names, so that an
// uninstall of a cut-off update still finds them.
Result<> MarkSwitching(const Options& options, RunValues& run)
{
    run.state.unfinished = UnfinishedUpdate;
    for (const PlannedComponent& item : run.plan.items)
    {
        if (!item.needed)
            continue;
        const Component& component = item.component;
        RecordPlaced(options, run, component.id);
        std::vector<std::wstring>& names = run.state.entries[component.id];
        for (const std::wstring& name : run.entries[component.id])
            if (std::ranges::find(names, name) == names.end())
                names.push_back(name);
    }
    return WriteState(options.installFolder, run.state);
}

// Step 14: the running Tovik is asked to end and the staged files take their targets' places.
Result<> SwitchOver(const Options& options, const Callbacks& callbacks, RunValues& run)
{
    if (run.needed == 0)
        return {};
    if (run.windows.installedPackage)
        Install::ShutdownTovik(run.windows.installedPackage->installLocation, LogAt(callbacks, Level::Info));
    else if (run.otherAccount && Guest::FindAndroidVm())
        return Pd::Fail(FormatText(TextId::TovikRunningForOtherUser, run.windows.packageUser->account));
    run.tracker.Stage(Text(TextId::SwitchingToNewRelease), SwitchOverPosition);
    // A target another program holds fails the run here, with nothing replaced yet.
    if (auto free = run.staged.WaitAllReplaceable(); !free)
        return free;
    if (auto marked = MarkSwitching(options, run); !marked)
        return marked;
    auto committed = run.staged.CommitAll();
    run.switched = committed || run.staged.AnyCommitted();
    if (!committed)
        return committed;
    if (IsUnderProgramFiles(options.installFolder.Path()))
        for (const Component* component : run.digests)
            RememberFileSha256((std::filesystem::path(options.installFolder.Path()) / component->target)
                                   .make_preferred()
                                   .wstring(),
                               component->sha256);
    return {};
}

// Steps 15 to 17: the state file, the downloads, the release files. Returns the count of
// components updated.
Result<std::int32_t> WriteRecords(const Manifest& manifest, const Options& options, RunValues& run)
{
    std::int32_t count = 0;
    for (const PlannedComponent& item : run.plan.items)
    {
        if (!item.needed)
            continue;
        const Component& component = item.component;
        RecordPlaced(options, run, component.id);
        run.state.entries[component.id] = run.entries[component.id];
        run.state.components[component.id] = component.packedSha256;
        ++count;
    }
    run.state.version = manifest.version;
    run.state.source = manifest.url;
    run.state.staging.clear();
    if (auto written = WriteState(options.installFolder, run.state); !written)
        return std::unexpected(written.error());

    CleanDownloads(options, run);

    if (auto written = manifest.isSigned ? run.releaseFiles.CommitAll()
                                         : WriteReleaseFiles(options.installFolder, manifest);
        !written)
        return std::unexpected(written.error());
    if (manifest.isSigned)
    {
        run.state.entries[L"release"] = {L"release.json", L"release.cat"};
        run.state.placed[L"release"] = {L"release.json", L"release.cat"};
    }
    else
    {
        run.state.entries.erase(L"release");
        run.state.placed.erase(L"release");
    }
    run.state.version = manifest.version;
    run.state.source = manifest.url;
    // What the folder needs is in place; the program copy and its host may still be to come.
    run.state.unfinished = options.registerPackage ? UnfinishedProgram : L"";
    if (auto written = WriteState(options.installFolder, run.state); !written)
        return std::unexpected(written.error());
    return count;
}

// A failure once the switch-over has replaced files leaves the folder between two releases: the
// text says so, and that the same command finishes it (the state file marks the update unfinished).
std::wstring FailureText(const Manifest& manifest, const RunValues& run, std::wstring text)
{
    return run.switched ? FormatText(TextId::InstallHalfDone, text, manifest.version) : text;
}

// Only what the machine's record says an install turned on may the uninstall turn off (a record
// that cannot be written leaves the feature on, the safe side); the per-user value of the same
// name stays for what reads it.
void RecordFeatureTurnedOn(RecordedFeature feature)
{
    WriteUserDword(FeatureValueName(feature), 1);
    RecordFeature(feature);
}

// Steps 21 and 22: developer mode and Virtual Machine Platform, each after asking. Returns
// whether Windows must restart.
Result<bool> EnableFeatures(const Callbacks& callbacks, const RunValues& run)
{
    if (!run.windows.developerMode)
    {
        if (!Ask(callbacks, Text(TextId::DeveloperModeQuestion)))
            return Pd::Fail(CanceledText());
        if (auto enabled = EnableDeveloperMode(); !enabled)
            return std::unexpected(enabled.error());
        RecordFeatureTurnedOn(RecordedFeature::DeveloperMode);
        LogLine(callbacks, Level::Success, Text(TextId::DeveloperModeTurnedOn));
    }
    bool restart = false;
    if (run.windows.virtualMachinePlatform && !*run.windows.virtualMachinePlatform)
    {
        if (!Ask(callbacks, Text(TextId::VirtualMachinePlatformQuestion)))
            return Pd::Fail(CanceledText());
        auto enabled = EnableVmp(LogAt(callbacks, Level::Info));
        if (!enabled)
            return std::unexpected(enabled.error());
        RecordFeatureTurnedOn(RecordedFeature::VirtualMachinePlatform);
        restart = *enabled;
    }
    return restart;
}

// Steps 23 to 25: the account's earlier Tovik makes way, the dependencies come in, and the
// folder is registered, once more when Windows kept an old folder registration.
Result<> RegisterTovik(const Options& options, const Callbacks& callbacks, const RunValues& run)
{
    const LogText info = LogAt(callbacks, Level::Info);
    if (const auto& package = run.windows.installedPackage)
    {
        if (package->developmentMode)
        {
            if (!SameFile(package->installLocation, options.installFolder.Path()))
                LogLine(callbacks, Level::Info,
                        FormatText(TextId::ReplacesRegisteredTovik, package->installLocation));
        }
        else
        {
            if (!Ask(callbacks, FormatText(TextId::StoreTovikReplaced, package->version)))
                return Pd::Fail(CanceledText());
            if (auto removed = Install::RemovePackage(package->fullName, true); !removed)
                return removed;
            LogLine(callbacks, Level::Info, Text(TextId::StoreTovikRemoved));
        }
    }
    if (auto installed = Install::InstallDependencies(options.installFolder.Path(), info); !installed)
        return installed;
    auto registered = Install::RegisterPackage(options.installFolder.Path(), info);
    if (registered)
        return {};
    const auto again = Install::FindInstalledPackage();
    if (!again || !again->developmentMode || SameFile(again->installLocation, options.installFolder.Path()))
        return registered;
    LogLine(callbacks, Level::Warning, FormatText(TextId::WindowsKeptOldRegistration, registered.error()));
    if (auto removed = Install::RemovePackage(again->fullName, true); !removed)
        return removed;
    return Install::RegisterPackage(options.installFolder.Path(), info);
}

// The program copy and its host, then the state file, which says "finished" only when both are
// in place. Tovik works without them, so their failure is a warning (the state file keeps saying
// what is left to do); a state file that cannot be written fails the run, since nothing would
// record what this run did. Returns whether the program and its host are in place.
Result<bool> InstallProgramAndRecord(const Options& options, const Callbacks& callbacks, RunValues& run,
                                     bool withHost, const Detail::ProgramSetting& program)
{
    auto installed = Detail::InstallProgramWith(options.installFolder, run.state, withHost, program);
    if (installed)
        run.state.unfinished.clear();
    else
        LogLine(callbacks, Level::Warning, installed.error());
    if (auto written = WriteState(options.installFolder, run.state); !written)
        return Pd::Fail(FormatText(TextId::InstallFinishNotRecorded, written.error()));
    return installed.has_value();
}

// The shortcut's icon: the installed program when it is there, else the running one.
std::wstring ShortcutIcon(const Detail::ProgramSetting& program)
{
    const std::filesystem::path installed = std::filesystem::path(program.defaultFolder) / L"Peldra.exe";
    std::error_code error;
    return std::filesystem::exists(installed, error) ? installed.wstring() : program.runningExe;
}

} // namespace

void RecordPlaced(const Options& options, RunValues& run, const std::wstring& id)
{
    run.state.placed[id] =
        JoinRecords(RecordsStillThere(options.installFolder, run.earlier[id]), run.placed[id]);
}

Result<Outcome> FinishInstall(const Manifest& manifest, const Options& options, const Callbacks& callbacks,
                              RunValues& run, const Detail::ProgramSetting& program)
{
    // The release's own files are staged and found replaceable before anything is replaced, so
    // that one that another program holds fails the run with nothing changed.
    auto releaseFiles = StageReleaseFiles(options.installFolder, manifest);
    if (!releaseFiles)
        return std::unexpected(releaseFiles.error());
    run.releaseFiles = std::move(*releaseFiles);
    if (auto switched = SwitchOver(options, callbacks, run); !switched)
        return std::unexpected(FailureText(manifest, run, switched.error()));
    auto count = WriteRecords(manifest, options, run);
    if (!count)
        return std::unexpected(FailureText(manifest, run, count.error()));
    if (!options.registerPackage)
        return Done(run, false, *count);

    if (run.otherAccount)
    {
        if (auto recorded = InstallProgramAndRecord(options, callbacks, run, false, program); !recorded)
            return std::unexpected(recorded.error());
        LogLine(
            callbacks, Level::Success,
            FormatText(TextId::InstalledForOtherUser, manifest.version, run.windows.packageUser->account));
        return Done(run, false, *count);
    }

    run.tracker.Stage(Text(TextId::RegisteringTovikInWindows), SwitchOverPosition);
    auto restart = EnableFeatures(callbacks, run);
    if (!restart)
        return std::unexpected(restart.error());
    if (auto registered = RegisterTovik(options, callbacks, run); !registered)
        return std::unexpected(registered.error());
    LogLine(callbacks, Level::Success, FormatText(TextId::PeldraRegistered, manifest.version));
    Install::SeedTovikSettings();
    if (run.windows.build > LastBuildWithoutPatch)
        LogLine(callbacks, Level::Warning, FormatText(TextId::WindowsBuildRefusesTovik, run.windows.build));

    auto installed = InstallProgramAndRecord(options, callbacks, run, true, program);
    if (!installed)
        return std::unexpected(installed.error());
    if (*installed)
        LogLine(callbacks, Level::Success, Text(TextId::BackgroundServicesInstalled));

    const std::wstring name = Text(TextId::AndroidSettingsTitle);
    if (auto created = Install::CreateTovikSettingsShortcut(name, ShortcutIcon(program)); created)
        LogLine(callbacks, Level::Info, FormatText(TextId::AndroidSettingsInStartMenu, name));
    else
        LogLine(callbacks, Level::Warning, created.error());
    return Done(run, *restart, *count);
}

} // namespace Pd::Core
