#include "ui/MainWindow.h"

#include "release/folders/Folders.h"

#include "core/ComApartment.h"
#include "core/host/HostSettings.h"
#include "core/Strings.h"
#include "core/Text.h"
#include "release/base/ReleaseConstants.h"
#include "release/download/Magisk.h"
#include "release/folders/FileTree.h"
#include "release/install/InstallRun.h"
#include "release/manifest/Updates.h"
#include "release/program/InstalledMsi.h"
#include "release/program/SelfUpdate.h"
#include "release/uninstall/Leftovers.h"
#include "release/uninstall/Uninstall.h"
#include "release/windows/TovikControl.h"
#include "ui/Dialog.h"
#include "ui/MainWindowParts.h"
#include "ui/SystemRestart.h"

#include <fmt/xchar.h>

namespace Pd::Ui
{
namespace
{

void RestartWindowsWhenAsked(HWND window, const std::wstring& text)
{
    if (Confirm(window, Pd::Core::Text(TextId::RestartNeeded), text, Pd::Core::Text(TextId::RestartNow), 0))
        static_cast<void>(RestartWindows());
}

void PostResult(HWND window, OperationResult result)
{
    PostPayload(window, MessageFinished, std::make_unique<OperationResult>(std::move(result)));
}

} // namespace

// The body runs on a new worker thread with its stop token; the previous worker is asked to stop
// and joined by the assignment.
template <typename Body> void MainWindow::StartWorker(Body body)
{
    worker_ = std::jthread(std::move(body));
}

void MainWindow::ResetProgress()
{
    if (worker_.joinable())
        worker_.join();
    busy_ = true;
    progressFailed_ = progressSucceeded_ = false;
    progress_ = Pd::Core::Progress{};
    reportWaiting_ = false;
    linePace_.Reset();
    shownFraction_ = 0;
    progressStart_ = ::GetTickCount64();
    UpdateButtons();
    if (taskbar_)
        taskbar_->SetProgressState(window_, TBPF_INDETERMINATE);
    RunFrames();
}

void MainWindow::Report(Pd::Level level, const std::wstring& text)
{
    AppendLog(level, text);
    SetStatus(level, text);
}

void MainWindow::FinishLook(bool succeeded, bool failed)
{
    busy_ = false;
    progressSucceeded_ = succeeded;
    progressFailed_ = failed;
    RunFrames();
    SetTaskbarProgress(failed ? TBPF_ERROR : TBPF_NOPROGRESS, 1000);
}

void MainWindow::StartInstall()
{
    if (!manifest_)
        return;
    if (!folderRefusal_.empty())
        return Report(Pd::Level::Error, folderRefusal_);
    uninstalling_ = false;
    ResetProgress();
    Pd::Core::Options options;
    options.installFolder = installFolder_;
    StartWorker([window = window_, manifest = manifest_, options](std::stop_token stop) {
        OperationResult result;
        {
            Pd::Core::ComApartment apartment(Pd::Core::Apartment::Multithreaded);
            auto outcome = Pd::Core::Run(*manifest, options, WindowCallbacks(window), stop);
            result.ok = outcome.has_value();
            result.restartNeeded = outcome && outcome->restartNeeded;
            if (!outcome)
            {
                result.errorText = outcome.error().text;
                result.canceled = outcome.error().canceled;
            }
        }
        result.canceled = result.canceled || stop.stop_requested();
        PostResult(window, std::move(result));
    });
}

void MainWindow::OnInstallFinished(bool ok, bool canceled, bool restart, const std::wstring& error)
{
    FinishLook(ok, !ok && !canceled);
    if (ok)
        progress_.position = 1000;
    installState_ = Pd::Core::ReadState(installFolder_);
    std::wstring version = manifest_ ? manifest_->version : std::wstring();
    // A cancelled run (a stop request, a question answered no) is no failure.
    Pd::Level level = ok ? Pd::Level::Success : canceled ? Pd::Level::Warning : Pd::Level::Error;
    std::wstring text =
        ok ? Pd::Core::FormatText(restart ? TextId::InstalledRestartNeeded : TextId::InstalledAppsInStartMenu,
                                  version)
        : canceled ? Pd::Core::Text(TextId::CanceledDownloadsContinue)
                   : Pd::Core::FormatText(TextId::InstallationFailed, error);
    Report(level, text);
    if (ok)
    {
        FLASHWINFO flash{sizeof flash, window_, FLASHW_TRAY | FLASHW_TIMERNOFG, 0, 0};
        ::FlashWindowEx(&flash);
        if (restart)
            RestartWindowsWhenAsked(window_, text);
    }
    CheckRelease(true);
    SetStatus(level, text);
}

void MainWindow::UpdateApp()
{
    if (!manifest_)
        return;
    auto app = Pd::Core::AppUpdate(*manifest_);
    if (!app)
        return;
    if (!Pd::Install::FindInstalledMsi())
    {
        ::AllowSetForegroundWindow(ASFW_ANY);
        OpenAddress(fmt::format(L"https://{}/{}/releases/latest", Pd::Core::ReleaseWebHost,
                                Pd::Core::ReleaseRepository));
        return;
    }
    uninstalling_ = false;
    ResetProgress();
    std::wstring line =
        Pd::Core::FormatText(TextId::DownloadingPeldraSetup, app->version, Pd::Core::FormatBytes(app->size));
    AppendLog(Pd::Level::Info, line);
    StartWorker([window = window_, app = *app, line](std::stop_token stop) {
        auto done = Pd::Core::SelfUpdate(
            app,
            [window, &line](std::uint64_t now, std::uint64_t total) {
                PostProgress(window, ByteProgressReport(line, now, total));
            },
            [window](const std::wstring& text) { PostLogLine(window, Pd::Level::Info, text); }, stop);
        OperationResult result;
        result.isSelfUpdate = true;
        result.ok = done.has_value();
        if (!done)
            result.errorText = done.error();
        result.canceled = stop.stop_requested();
        PostResult(window, std::move(result));
    });
}

void MainWindow::Uninstall()
{
    if (!folderRefusal_.empty())
        return Report(Pd::Level::Error, folderRefusal_);
    std::wstring size = Pd::Core::FormatBytes(Pd::Install::DirectorySize(Pd::Install::TovikDataFolder()));
    DialogSpec spec;
    spec.title = Pd::Core::Text(TextId::UninstallPeldra);
    spec.text = Pd::Core::FormatText(TextId::UninstallChoice, installFolder_.Path(), size);
    spec.okText = Pd::Core::Text(TextId::KeepAndroidData);
    spec.thirdText = Pd::Core::Text(TextId::RemoveEverything);
    spec.width = 560;
    int choice = ShowDialog(window_, spec).button;
    if (choice != 1 && choice != 2)
        return;
    const bool everything = choice == 2;
    if (everything && !Confirm(window_, Pd::Core::Text(TextId::DeleteAllAndroidData),
                               Pd::Core::FormatText(TextId::DeleteAndroidDataWarning, size),
                               Pd::Core::Text(TextId::DeleteEverything), 1))
        return;
    if (auto product = Pd::Install::FindInstalledMsi())
    {
        if (auto started = Pd::Install::StartMsiUninstall(*product, everything); started)
            ::PostMessageW(window_, WM_CLOSE, 0, 0);
        else
            Report(Pd::Level::Error, started.error());
        return;
    }
    uninstalling_ = true;
    ResetProgress();
    StartWorker([window = window_, folder = installFolder_, everything](std::stop_token) {
        OperationResult result;
        result.isUninstall = true;
        result.removeEverything = everything;
        {
            Pd::Core::ComApartment apartment(Pd::Core::Apartment::Multithreaded);
            Pd::Core::Callbacks callbacks = WindowCallbacks(window);
            callbacks.question = [](const std::wstring&) { return true; };
            auto outcome = Pd::Core::Uninstall(
                folder, everything ? Pd::Core::Removal::Everything : Pd::Core::Removal::KeepData, callbacks);
            result.ok = outcome.has_value();
            if (outcome)
            {
                result.restartNeeded = outcome->restartNeeded;
                result.failedItems = outcome->failures.size();
            }
            else
                result.errorText = outcome.error();
        }
        PostResult(window, std::move(result));
    });
}

void MainWindow::OnUninstallFinished(bool ok, bool removeEverything, bool restart, std::uint64_t failedItems,
                                     const std::wstring& error)
{
    uninstalling_ = false;
    const bool clean = ok && failedItems == 0;
    FinishLook(clean, !clean);
    progress_.position = 1000;
    if (ok && removeEverything)
        skipWindowRect_ = true;
    installState_ = Pd::Core::ReadState(installFolder_);
    std::wstring text = !ok ? Pd::Core::FormatText(TextId::UninstallFailed, error)
                            : Pd::Core::Text(removeEverything ? TextId::EverythingRemoved
                                                              : TextId::UninstalledAndroidDataKept);
    Pd::Level level = !ok ? Pd::Level::Error : failedItems > 0 ? Pd::Level::Warning : Pd::Level::Success;
    AppendLog(level, text);
    CheckRelease(true);
    SetStatus(level, text);
    if (ok && restart)
        RestartWindowsWhenAsked(window_, Pd::Core::Text(TextId::VirtualMachinePlatformDisabledAgain));
}

void MainWindow::StopTovik()
{
    ResetProgress();
    SetStatus(Pd::Level::Info, Pd::Core::Text(TextId::StoppingTovik));
    StartWorker([window = window_](std::stop_token) {
        OperationResult result;
        result.isStop = true;
        {
            Pd::Core::ComApartment apartment(Pd::Core::Apartment::Multithreaded);
            result.stopResult = static_cast<std::int32_t>(Pd::Install::Stop());
        }
        result.ok = result.stopResult != 3;
        PostResult(window, std::move(result));
    });
}

void MainWindow::OnStopFinished(std::int32_t stopped)
{
    const bool failed = stopped == 3;
    FinishLook(!failed, failed);
    progress_.position = 1000;
    static constexpr std::pair<TextId, Pd::Level> outcomes[] = {
        {TextId::TovikNotRunning, Pd::Level::Success},
        {TextId::TovikStopped, Pd::Level::Success},
        {TextId::TovikStoppedAtOnce, Pd::Level::Warning},
        {TextId::TovikNotStopped, Pd::Level::Error},
    };
    auto [text, level] = outcomes[std::clamp(stopped, 0, 3)];
    Report(level, Pd::Core::Text(text));
    UpdateButtons();
    const bool reopen = std::exchange(reopenAfterStop_, false);
    if (reopen && (stopped == 1 || stopped == 2))
        if (auto opened = Pd::Install::OpenTovikSettings(); !opened)
            AppendLog(Pd::Level::Error, opened.error());
}

void MainWindow::ToggleMagisk()
{
    if (Pd::Host::ElevationMagiskEnabled())
    {
        if (auto off = Pd::Host::SetElevationMagisk(false); off)
        {
            AppendLog(Pd::Level::Success, Pd::Core::Text(TextId::MagiskModeOff));
            SetStatus(Pd::Level::Info, Pd::Core::Text(TextId::MagiskModeOff));
            magiskRestartPending_ = true;
            RefreshHostState();
        }
        else
            Report(Pd::Level::Error, off.error());
        return;
    }
    if (!Confirm(window_, Pd::Core::Text(TextId::RootThroughMagisk),
                 Pd::Core::Text(TextId::MagiskExplanation), Pd::Core::Text(TextId::DownloadAndTurnOn), 1))
        return;
    uninstalling_ = false;
    ResetProgress();
    StartWorker([window = window_](std::stop_token stop) {
        OperationResult result;
        result.isMagisk = true;
        auto release = Pd::Core::Magisk::FindLatest(stop);
        if (!release)
            result.errorText = release.error();
        else
        {
            result.magiskTag = release->tag;
            std::wstring line = Pd::Core::FormatText(TextId::DownloadingMagisk, release->tag,
                                                     Pd::Core::FormatBytes(release->size));
            auto stored = Pd::Core::Magisk::Verified();
            if (!stored || stored->sha256 != release->sha256)
                PostLogLine(window, Pd::Level::Info, line);
            auto done = Pd::Core::Magisk::Download(
                *release,
                [window, &line](std::uint64_t now, std::uint64_t total) {
                    PostProgress(window, ByteProgressReport(line, now, total));
                },
                [window](const std::wstring& text) { PostLogLine(window, Pd::Level::Info, text); }, stop);
            result.ok = done.has_value();
            if (!done)
                result.errorText = done.error();
        }
        result.canceled = stop.stop_requested();
        PostResult(window, std::move(result));
    });
}

void MainWindow::OnMagiskFinished(bool ok, bool canceled, const std::wstring& error, const std::wstring& tag)
{
    FinishLook(ok, !ok && !canceled);
    if (ok && !ConfirmRoot({Pd::Host::RootSetting::Magisk, true}))
        Report(Pd::Level::Warning, Pd::Core::Text(TextId::Canceled));
    else if (ok)
    {
        if (auto on = Pd::Host::SetElevationMagisk(true); on)
        {
            Report(Pd::Level::Success, Pd::Core::FormatText(TextId::MagiskModeOn, tag));
            magiskRestartPending_ = true;
        }
        else
            Report(Pd::Level::Error, on.error());
    }
    else if (canceled)
        Report(Pd::Level::Warning, Pd::Core::Text(TextId::Canceled));
    else
        Report(Pd::Level::Error, error);
    UpdateButtons();
}

void MainWindow::OnFinished(const OperationResult& result)
{
    if (result.isStop)
        return OnStopFinished(result.stopResult);
    if (result.isSelfUpdate)
    {
        if (!result.ok)
            return OnInstallFinished(false, result.canceled, false, result.errorText);
        busy_ = false;
        Report(Pd::Level::Info,
               Pd::Core::FormatText(TextId::WindowsInstallerUpdatingPeldra, appUpdateVersion_));
        ::PostMessageW(window_, WM_CLOSE, 0, 0);
        return;
    }
    if (result.isMagisk)
        return OnMagiskFinished(result.ok, result.canceled, result.errorText, result.magiskTag);
    if (result.isUninstall)
        return OnUninstallFinished(result.ok, result.removeEverything, result.restartNeeded,
                                   result.failedItems, result.errorText);
    OnInstallFinished(result.ok, result.canceled, result.restartNeeded, result.errorText);
}

} // namespace Pd::Ui
