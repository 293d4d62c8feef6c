#include "release/install/InstallRun.h"

#include "core/Paths.h"
#include "core/Strings.h"
#include "core/Text.h"
#include "core/Version.h"
#include "guest/AndroidVm.h"
#include "release/base/RunLock.h"
#include "release/download/Net.h"
#include "release/folders/FileTree.h"
#include "release/folders/FolderAccess.h"
#include "release/folders/Folders.h"
#include "release/folders/InstallFolderChoice.h"
#include "release/folders/InstallFolderRules.h"
#include "release/folders/NoLinks.h"
#include "release/install/InstallRecords.h"
#include "release/install/InstallRunSteps.h"
#include "release/install/StagingJournal.h"
#include "release/manifest/Versions.h"
#include "release/unpack/Unpack.h"

#include <windows.h>

#include <algorithm>
#include <filesystem>

namespace Pd::Core
{
namespace
{

constexpr std::uint32_t FirstWindows11Build = 22000;
constexpr int DownloadAttempts = 5;

std::filesystem::path Under(const std::wstring& folder, const std::wstring& relative)
{
    return (std::filesystem::path(folder) / relative).make_preferred().lexically_normal();
}

// Steps 1 to 5: what must hold before anything is read or written.
Result<> CheckReleaseAndWindows(const Manifest& manifest, const Callbacks& callbacks, RunValues& run)
{
    run.tracker.Stage(Text(TextId::CheckingWindows), -1);
    if (manifest.app && !manifest.app->minimum.empty() &&
        CompareVersions(ProgramVersion, manifest.app->minimum) < 0)
        return Pd::Fail(
            FormatText(TextId::ReleaseNeedsPeldraVersion, manifest.version, manifest.app->minimum));
    run.windows = QueryWindows();
    LogLine(callbacks, Level::Info, FormatText(TextId::WindowsVersionLog, WindowsText(run.windows)));
    if (run.windows.build < FirstWindows11Build)
        return Pd::Fail(FormatText(TextId::WindowsBuildTooOld, run.windows.build, FirstWindows11Build));
    if (run.windows.build < manifest.minWindowsBuild)
        return Pd::Fail(FormatText(TextId::WindowsBuildTooOld, run.windows.build, manifest.minWindowsBuild));
    if (!manifest.isSigned)
        return Pd::Fail(FormatText(TextId::NotOfficialRelease, manifest.url));
    LogLine(callbacks, Level::Info, Text(TextId::OfficialRelease));
    return {};
}

// The packed bytes of needed components whose complete download is already in the download
// folder with the right digest: the transfer takes those up without fetching anything.
std::uint64_t VerifiedDownloadBytes(const Options& options, const RunValues& run, std::stop_token stop)
{
    std::uint64_t verified = 0;
    for (const PlannedComponent& item : run.plan.items)
    {
        const Component& component = item.component;
        const std::wstring path = DownloadPath(options.installFolder, component);
        std::error_code error;
        if (!item.needed || std::filesystem::file_size(path, error) != component.packedSize || error)
            continue;
        if (auto digest = Net::FileSha256(path, {}, stop);
            digest && EqualsIgnoringCase(*digest, component.packedSha256))
            verified += component.packedSize;
    }
    return verified;
}

// Steps 8 and 9: room on the volume, and no other account's registration in the way.
Result<> CheckFreeSpaceAndAccounts(const Options& options, const Callbacks& callbacks, RunValues& run,
                                   const Detail::ProgramSetting& program, std::stop_token stop)
{
    std::uint64_t needed = run.plan.downloadBytes + run.plan.diskBytes;
    const std::uint64_t free = program.freeSpace ? program.freeSpace(options.installFolder.Path())
                                                 : FreeSpace(options.installFolder.Path());
    // Hashing what an earlier run downloaded costs time: only when the room would not do.
    if (free < needed)
        needed -= std::min(needed, VerifiedDownloadBytes(options, run, stop));
    if (free < needed)
        return Pd::Fail(FormatText(TextId::NotEnoughFreeSpace, FormatBytes(needed), FormatBytes(free)));

    run.otherAccount = false;
    if (run.windows.installedPackage || !run.windows.packageUser)
        return {};
    const Install::PackageUser& user = *run.windows.packageUser;
    if (!SameFile(user.installLocation, options.installFolder.Path()))
        return Pd::Fail(FormatText(TextId::TovikRegisteredForOtherUser, user.account, user.installLocation));
    if (Guest::FindAndroidVm())
        return Pd::Fail(FormatText(TextId::TovikRunningForOtherUser, user.account));
    LogLine(callbacks, Level::Info, FormatText(TextId::TovikOfOtherUserUpdated, user.account));
    run.otherAccount = true;
    return {};
}

// A folder that holds files of the user's and no state file is used only when the user says so:
// files of the release with the same names would replace theirs.
Result<> ConfirmForeignFolder(const Options& options, const Callbacks& callbacks,
                              const Detail::ProgramSetting& program)
{
    const bool isDefault = SameFile(options.installFolder.Path(), program.defaultFolder);
    if (!HoldsForeignFiles(options.installFolder, isDefault))
        return {};
    if (!callbacks.question ||
        !callbacks.question(FormatText(TextId::FolderHoldsForeignFiles, options.installFolder.Path())))
        return Pd::Fail(CanceledText());
    return {};
}

// How many folders, counting up from the install folder itself, are among those created.
std::uint32_t CreatedLevels(const InstallFolder& installFolder, const std::vector<std::wstring>& created)
{
    std::uint32_t levels = 0;
    std::filesystem::path folder = std::filesystem::path(installFolder.Path());
    for (const std::wstring& made : created)
    {
        if (!EqualsIgnoringCase(NormalizeFolder(made), folder.wstring()) || folder.parent_path() == folder)
            break;
        ++levels;
        folder = folder.parent_path();
    }
    return levels;
}

// Before anything is placed in the folder, the state file says that a run is under way and
// names what it will place as far as that is known (the targets of file components, and the
// folders the run created for the install folder), so that an uninstall of a run cut off finds
// it. An earlier cut-off step keeps its mark: the folder may still be a mix of two releases.
Result<> MarkStarted(const Options& options, RunValues& run, bool hadStateFile,
                     const std::vector<std::wstring>& createdFolders)
{
    if (!run.state.createdFolders && !hadStateFile)
        run.state.createdFolders = CreatedLevels(options.installFolder, createdFolders);
    if (run.state.unfinished.empty())
        run.state.unfinished = UnfinishedInstall;
    for (const PlannedComponent& item : run.plan.items)
    {
        const Component& component = item.component;
        const bool recorded = run.state.placed.contains(component.id);
        if (!recorded && run.state.entries.contains(component.id))
            run.namesOnly.insert(component.id);
        run.earlier[component.id] =
            recorded ? run.state.placed[component.id]
                     : FolderRecords(options.installFolder, run.state.entries[component.id]);
        if (!item.needed || run.namesOnly.contains(component.id))
            continue;
        if (component.kind != ComponentKind::Archive)
            run.placed[component.id] =
                PlacedRecord(options.installFolder,
                             {Under(options.installFolder.Path(), component.target).wstring()}, {}, {});
        RecordPlaced(options, run, component.id);
    }
    return WriteState(options.installFolder, run.state);
}

// Step 10: every needed component into the download folder, verified.
Result<> DownloadComponents(const Options& options, const Callbacks& callbacks, RunValues& run,
                            std::stop_token stop)
{
    const LogText log = [&](const std::wstring& line) { LogLine(callbacks, Level::Info, line); };
    std::uint64_t before = 0;
    std::int32_t index = 0;
    for (const PlannedComponent& item : run.plan.items)
    {
        if (!item.needed)
            continue;
        const Component& component = item.component;
        const std::wstring name = ComponentDisplayName(component);
        run.tracker.BeginItem(FormatText(TextId::DownloadingStage, name), ++index, run.needed);
        if (auto made = Install::CreateFoldersBelow(options.installFolder.Path(),
                                                    DownloadFolder(options.installFolder));
            !made)
            return Pd::Fail(FormatText(TextId::DownloadFailed, name, made.error()));
        LogLine(callbacks, Level::Info,
                FormatText(TextId::DownloadingWithSize, component.url, FormatBytes(component.packedSize)));
        const ProgressSpan span = DownloadSpan(before, component.packedSize, run.plan.downloadBytes);
        const Net::ByteProgress bytes = [&](std::uint64_t done, std::uint64_t total) {
            run.tracker.Bytes(done, total, span.base, span.span);
        };
        auto downloaded =
            Net::Download(component.url, DownloadPath(options.installFolder, component), component.packedSize,
                          component.packedSha256, DownloadAttempts, bytes, log, stop);
        if (!downloaded)
            return Pd::Fail(FormatText(TextId::DownloadFailed, name, downloaded.error()));
        before += component.packedSize;
        LogLine(callbacks, Level::Success, FormatText(TextId::Sha256Verified, name));
    }
    return {};
}

// The folder an archive is unpacked into, as the state's staging list names it.
std::wstring StagingRecord(const InstallFolder& installFolder, const std::wstring& destination)
{
    const std::wstring relative = RelativePath(NormalizeFolder(destination), installFolder.Path());
    return relative.empty() || relative == L"." ? L"" : relative + L"\\";
}

Result<> WriteProgress(const Options& options, RunValues& run, const std::wstring& id, bool exact)
{
    if (exact || !run.namesOnly.contains(id))
        RecordPlaced(options, run, id);
    return WriteState(options.installFolder, run.state);
}

// Step 11: every downloaded component into staged files beside its targets.
Result<> UnpackComponents(const Options& options, const Callbacks& callbacks, RunValues& run,
                          std::stop_token stop)
{
    std::int32_t index = 0;
    for (const PlannedComponent& item : run.plan.items)
    {
        if (!item.needed)
            continue;
        if (stop.stop_requested())
            return Pd::Fail(CanceledText());
        const Component& component = item.component;
        const std::wstring name = ComponentDisplayName(component);
        run.tracker.BeginItem(FormatText(TextId::UnpackingStage, name), ++index, run.needed);
        const ProgressSpan span = UnpackSpan(index, run.needed);
        const Net::ByteProgress bytes = [&](std::uint64_t done, std::uint64_t total) {
            run.tracker.Bytes(done, total, span.base, span.span);
        };
        const std::wstring source = DownloadPath(options.installFolder, component);
        const std::wstring destination = Under(options.installFolder.Path(), component.target).wstring();
        const bool archive = component.kind == ComponentKind::Archive;
        // What an archive's unpack creates is noted before it is created (a journal of a run cut
        // off before goes first, with what it lists).
        StagingJournal journal;
        if (archive)
            if (auto opened = journal.Open(options.installFolder, component.id); !opened)
                return Pd::Fail(FormatText(TextId::UnpackFailed, name, opened.error()));
        const std::set<std::wstring> foldersBefore = ExistingFolders(options.installFolder, component.target);
        Install::StagedFiles staged;
        // The unpackers keep to their folder; the way down to it is checked here.
        const std::wstring folder =
            archive ? destination : std::filesystem::path(destination).parent_path().wstring();
        if (auto made = Install::CreateFoldersBelow(options.installFolder.Path(), folder); !made)
            return Pd::Fail(FormatText(TextId::UnpackFailed, name, made.error()));
        // The folders made for it are recorded before anything is written into them.
        run.placed[component.id] = PlacedRecord(
            options.installFolder, archive ? std::vector<std::wstring>{} : std::vector{destination},
            foldersBefore, ExistingFolders(options.installFolder, component.target));
        if (archive)
            run.state.staging = {StagingRecord(options.installFolder, destination)};
        if (auto recorded = WriteProgress(options, run, component.id, false); !recorded)
            return recorded;
        if (archive)
        {
            auto report = Install::UnpackArchive(
                source, destination, component.size, bytes, stop,
                [&journal](const std::wstring& path, bool folder) { return journal.Add(path, folder); });
            if (!report)
                return Pd::Fail(FormatText(TextId::UnpackFailed, name, report.error()));
            LogLine(callbacks, Level::Success,
                    FormatText(TextId::FilesUnpacked, name, report->files, FormatBytes(report->bytes)));
            run.entries[component.id] = ComponentEntries(component, report->names);
            staged = std::move(report->staged);
        }
        else
        {
            auto report =
                Install::UnpackFile(source, destination, component.size, component.sha256, bytes, stop);
            if (!report)
                return Pd::Fail(FormatText(TextId::UnpackFailed, name, report.error()));
            LogLine(callbacks, Level::Success,
                    FormatText(TextId::FileUnpacked, name, FormatBytes(report->bytes)));
            run.entries[component.id] = ComponentEntries(component, {});
            staged = std::move(report->staged);
            if (!component.sha256.empty())
                run.digests.push_back(&component);
        }
        std::vector<std::wstring> files;
        for (std::size_t file = 0; file < staged.Size(); ++file)
            files.push_back(staged[file].TargetPath());
        run.placed[component.id] = PlacedRecord(options.installFolder, files, foldersBefore,
                                                ExistingFolders(options.installFolder, component.target));
        run.staged.Append(std::move(staged));
        run.state.staging.clear();
        // Exactly what it staged is recorded before the next component begins.
        if (auto recorded = WriteProgress(options, run, component.id, true); !recorded)
            return recorded;
        journal.Discard();
    }
    if (stop.stop_requested())
        return Pd::Fail(CanceledText());
    return {};
}

// A first install that failed before anything was switched in takes back what it made (staged
// files, the folders the unpack made, downloads, the state file and the folders made for the
// install folder), so that the folder holds only what the user had. Folders go only when empty.
void DiscardFirstInstall(const Options& options, RunValues& run,
                         const std::vector<std::wstring>& createdFolders)
{
    const std::wstring& root = options.installFolder.Path();
    run.staged = {};
    // The install folder passed its check; a journal it refuses is left as it is.
    static_cast<void>(UndoStagingJournals(options.installFolder));
    static_cast<void>(Install::RemoveTreeBelow(root, DownloadFolder(options.installFolder), 0));
    std::vector<std::wstring> folders;
    for (const auto& [id, records] : run.state.placed)
        for (const std::wstring& record : records)
            if (IsFolderRecord(record) && IsSafeRecord(record))
                folders.push_back(JoinPath(root, record.substr(0, record.size() - 1)));
    Install::RemoveEmptyFolders(root, std::move(folders));
    static_cast<void>(Install::DeleteBelow(root, JoinPath(root, L"peldra.json")));
    for (const std::wstring& folder : createdFolders)
        if (!Install::RemoveEmptyFolder(Install::DriveRoot(folder), folder))
            break;
}

} // namespace

std::wstring DownloadFolder(const InstallFolder& installFolder)
{
    return Under(installFolder.Path(), L".download").wstring();
}

std::wstring DownloadPath(const InstallFolder& installFolder, const Component& component)
{
    return (std::filesystem::path(DownloadFolder(installFolder)) / (component.id + L".zst")).wstring();
}

std::wstring CanceledText()
{
    return Text(TextId::Canceled);
}

bool Ask(const Callbacks& callbacks, const std::wstring& question)
{
    return callbacks.question && callbacks.question(question);
}

void LogLine(const Callbacks& callbacks, Pd::Level level, const std::wstring& text)
{
    if (callbacks.log)
        callbacks.log(level, text);
}

std::wstring ComponentDisplayName(const Component& component)
{
    if (component.kind == ComponentKind::Archive)
        return FormatText(TextId::ComponentFiles, component.id);
    return std::filesystem::path(component.target).make_preferred().filename().wstring();
}

std::vector<std::wstring> ComponentEntries(const Component& component,
                                           const std::set<std::wstring>& archiveNames)
{
    std::filesystem::path target(component.target);
    for (const auto& element : target.make_preferred())
        if (const std::wstring text = element.wstring(); !text.empty() && text != L"." && text != L"\\")
            return {text};
    if (component.kind != ComponentKind::Archive)
        return {};
    return {archiveNames.begin(), archiveNames.end()};
}

namespace Detail
{

Result<Outcome> RunWith(const Manifest& manifest, const Options& options, const Callbacks& callbacks,
                        std::stop_token stop, const ProgramSetting& program)
{
    RunValues run(callbacks);
    if (auto checked = CheckReleaseAndWindows(manifest, callbacks, run); !checked)
        return std::unexpected(checked.error());

    run.state = ReadState(options.installFolder);
    // Going back is allowed, never by surprise: an older release is only installed when asked.
    if (!run.state.version.empty() && CompareVersions(manifest.version, run.state.version) < 0 &&
        !Ask(callbacks, FormatText(TextId::ReleaseOlderThanInstalled, manifest.version, run.state.version)))
        return Pd::Fail(CanceledText());
    run.plan = PlanRelease(manifest, run.state, run.windows.build, options.installFolder);
    run.needed = static_cast<std::int32_t>(
        std::ranges::count_if(run.plan.items, [](const PlannedComponent& item) { return item.needed; }));
    if (run.needed == 0)
        LogLine(callbacks, Level::Info,
                FormatText(TextId::ReleaseInstalledNothingToDownload, manifest.version));
    else
        LogLine(callbacks, Level::Info,
                FormatText(TextId::ReleaseDownloadOnDisk, manifest.version,
                           FormatBytes(run.plan.downloadBytes), FormatBytes(run.plan.diskBytes)));

    if (auto checked = CheckFreeSpaceAndAccounts(options, callbacks, run, program, stop); !checked)
        return std::unexpected(checked.error());
    const bool hadStateFile = PathExists(options.installFolder.Join(L"peldra.json"));
    std::vector<std::wstring> createdFolders;
    if (auto prepared = Install::PrepareInstallFolder(options.installFolder.Path(), &createdFolders);
        !prepared)
        return std::unexpected(prepared.error());
    if (auto confirmed = ConfirmForeignFolder(options, callbacks, program); !confirmed)
        return std::unexpected(confirmed.error());
    // Updates and the uninstall follow this record, never the per-user setting; a record whose
    // folder a failed first install removes again counts as none.
    if (options.registerPackage)
        if (auto recorded = Install::RecordInstallFolder(options.installFolder); !recorded)
            LogLine(callbacks, Level::Warning, recorded.error());
    // A failed download stays for the next run to resume, as does what a cancelled run fetched;
    // any other failure of a first install before the switch-over leaves nothing behind.
    auto started = MarkStarted(options, run, hadStateFile, createdFolders);
    if (started)
        if (auto downloaded = DownloadComponents(options, callbacks, run, stop); !downloaded)
            return std::unexpected(downloaded.error());
    if (started)
        started = UnpackComponents(options, callbacks, run, stop);
    if (!started)
    {
        if (!hadStateFile && !stop.stop_requested())
            DiscardFirstInstall(options, run, createdFolders);
        return std::unexpected(started.error());
    }
    return FinishInstall(manifest, options, callbacks, run, program);
}

} // namespace Detail

std::expected<Outcome, RunFailure> Run(const Manifest& manifest, const Options& options,
                                       const Callbacks& callbacks, std::stop_token stop)
{
    // Every question the run asks goes through here, so that a "no" is known without its text.
    bool declined = false;
    Callbacks asking = callbacks;
    asking.question = [&declined, &callbacks](const std::wstring& question) {
        const bool yes = callbacks.question && callbacks.question(question);
        declined = declined || !yes;
        return yes;
    };
    const auto failed = [&](std::wstring text) {
        return std::unexpected(RunFailure{std::move(text), declined || stop.stop_requested()});
    };
    // Whoever chose the folder (the command line, the window, a stored setting), it is read one
    // way and refused before anything is downloaded or waited for.
    auto folder = Install::InstallFolderFromText(options.installFolder.Path());
    if (!folder)
        return failed(std::move(folder.error()));
    if (auto usable = Install::CheckInstallFolderUsable(*folder, manifest); !usable)
        return failed(std::move(usable.error()));
    Options normal = options;
    normal.installFolder = InstallFolder::From(*folder);
    auto lock =
        RunLock::Acquire([&](const std::wstring& line) { LogLine(callbacks, Level::Info, line); }, stop);
    if (!lock)
        return failed(std::move(lock.error()));
    auto outcome = Detail::RunWith(manifest, normal, asking, stop, Detail::CurrentSetting());
    if (!outcome)
        return failed(std::move(outcome.error()));
    return *outcome;
}

} // namespace Pd::Core
