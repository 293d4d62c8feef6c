#include "ui/MainWindow.h"

#include "bt/Bridge.h"
#include "core/ComApartment.h"
#include "core/host/HostControl.h"
#include "core/host/HostObjects.h"
#include "core/host/HostSettings.h"
#include "core/host/RegistrationRequest.h"
#include "core/host/ScheduledTask.h"
#include "core/Settings.h"
#include "core/Strings.h"
#include "core/Text.h"
#include "host/hello/BridgeHolder.h"
#include "pd/ProgramVersion.h"
#include "release/base/ReleaseConstants.h"
#include "release/download/ManifestLoader.h"
#include "release/manifest/Updates.h"
#include "release/manifest/Versions.h"
#include "release/verify/ReleaseFiles.h"
#include "ui/MainWindowParts.h"

#include <fmt/xchar.h>

#include <algorithm>
#include <utility>

namespace Pd::Ui
{
namespace
{

bool NamedMutexExists(const wchar_t* name)
{
    UniqueHandle mutex(::OpenMutexW(SYNCHRONIZE, FALSE, name));
    return static_cast<bool>(mutex);
}

bool NamedEventSignalled(const wchar_t* name)
{
    UniqueHandle event(::OpenEventW(SYNCHRONIZE, FALSE, name));
    return event && ::WaitForSingleObject(event.Get(), 0) == WAIT_OBJECT_0;
}

void RunReleaseCheck(std::stop_token stop, HWND window, std::wstring address, bool startHost)
{
    auto result = std::make_unique<ReleaseCheckResult>();
    {
        Pd::Core::ComApartment apartment(Pd::Core::Apartment::Multithreaded);
        // Before Peldra is installed there is no host to start, and nothing to warn about.
        if (startHost && Pd::Host::HostInstalled())
            if (auto started = Pd::Host::EnsureRunning(); !started)
                PostLogLine(window, Pd::Level::Warning, started.error());
        result->windows = Pd::Core::QueryWindows();
        result->bluetoothAdapter = Pd::Bt::DefaultAdapter();
        result->startWithWindows = Pd::Host::IsTaskRegistered();
        if (address.empty())
            result->error = Pd::Core::Text(TextId::EnterHttpsAddress);
        else if (auto manifest = Pd::Core::LoadManifest(address, stop, 10000, 20000))
            result->manifest = std::move(*manifest);
        else
            result->error = manifest.error();
    }
    PostPayload(window, MessageReleaseCheck, std::move(result));
}

} // namespace

std::wstring MainWindow::ReadSource()
{
    std::wstring source = Pd::Core::ReadUserString(L"Source", L"github");
    return source == L"local" || source == L"mirror" || source == L"custom" ? source : L"github";
}

std::wstring MainWindow::SourceLabel()
{
    std::wstring source = ReadSource();
    if (source == L"local")
        return Pd::Core::FormatText(TextId::LocalTestServerStatus, Pd::Core::LocalManifestAddress);
    if (source == L"mirror")
        return Pd::Core::FormatText(TextId::OrmelMirrorStatus, Pd::Core::MirrorManifestAddress());
    if (source == L"custom")
        return Pd::Core::FormatText(TextId::CustomSourceStatus,
                                    Pd::Core::ReadUserString(L"CustomManifest", L""));
    return Pd::Core::FormatText(TextId::GitHubReleasesStatus, Pd::Core::ReleaseRepository);
}

void MainWindow::CheckRelease(bool keepProgress, bool startHost)
{
    if (busy_ || checking_)
        return;
    checking_ = true;
    // The check that follows an operation keeps its result in the status line.
    holdResult_ = keepProgress;
    if (!keepProgress)
        progress_ = Pd::Core::Progress{};
    progressStart_ = ::GetTickCount64();
    RunFrames();
    SetStatus(Pd::Level::Info, Pd::Core::Text(TextId::ReadingRelease));
    UpdateButtons();
    if (worker_.joinable())
        worker_.join();
    // ManifestSource gives the address of every source word, CustomManifest's for "custom".
    std::wstring address = ReadSource() == L"custom" ? Pd::Core::ReadUserString(L"CustomManifest", L"")
                                                     : Pd::Core::ManifestSource();
    worker_ = std::jthread(RunReleaseCheck, window_, std::move(address), startHost);
}

void MainWindow::OnReleaseChecked(Pd::Core::WindowsInfo facts, std::optional<Pd::Core::Manifest> manifest,
                                  std::wstring error)
{
    checking_ = false;
    windows_ = std::move(facts);
    // The plan refers into the old manifest: it goes first.
    plan_ = Pd::Core::ReleasePlan{};
    manifest_ = manifest ? std::make_shared<const Pd::Core::Manifest>(std::move(*manifest)) : nullptr;
    releaseError_ = std::move(error);
    installState_ = Pd::Core::ReadState(installFolder_);
    if (manifest_)
        AppendLog(Pd::Level::Info,
                  Pd::Core::FormatText(TextId::ReleaseFromSource, manifest_->version, manifest_->android,
                                       manifest_->variant, manifest_->url));
    else
        AppendLog(Pd::Level::Error, Pd::Core::FormatText(TextId::ReleaseNotAvailable, releaseError_));
    appUpdateVersion_.clear();
    if (manifest_)
    {
        if (auto app = Pd::Core::AppUpdate(*manifest_))
        {
            appUpdateVersion_ = app->version;
            AppendLog(Pd::Level::Info,
                      Pd::Core::FormatText(TextId::PeldraUpdateAvailable, appUpdateVersion_));
        }
        if (Pd::Core::RecordUpdates(*manifest_, installFolder_) && NamedMutexExists(Pd::Host::HostMutexName))
        {
            UniqueHandle reload(::OpenEventW(EVENT_MODIFY_STATE, FALSE, Pd::Host::ReloadEventName));
            if (reload)
                ::SetEvent(reload.Get());
        }
    }
    AppendLog(Pd::Level::Info,
              Pd::Core::FormatText(TextId::WindowsVersionLog, Pd::Core::WindowsText(*windows_)));
    UpdateComponents();
    DescribeRelease();
    Layout();
    UpdateButtons();
}

void MainWindow::UpdateComponents()
{
    plan_ = manifest_ && windows_
                ? Pd::Core::PlanRelease(*manifest_, installState_, *windows_, installFolder_)
                : Pd::Core::ReleasePlan{};
    const bool fetch =
        std::any_of(plan_.items.begin(), plan_.items.end(), [](const auto& row) { return row.needed; });
    TextId label = installState_.components.empty() ? TextId::Install
                   : fetch                          ? TextId::Update
                                                    : TextId::Repair;
    ::SetWindowTextW(Control(MainCommand::Install), Pd::Core::Text(label).c_str());
    auto& install = Look(MainCommand::Install);
    install.glyph = label == TextId::Install ? 0xE896 : label == TextId::Update ? 0xE895 : 0xE90F;
    install.kind = label == TextId::Repair ? ButtonNormal : ButtonAccent;
    Look(MainCommand::StartAndroid).kind = label == TextId::Repair ? ButtonAccent : ButtonNormal;
    ::InvalidateRect(Control(MainCommand::Install), nullptr, FALSE);
    ::InvalidateRect(Control(MainCommand::StartAndroid), nullptr, FALSE);
    ::InvalidateRect(window_, nullptr, FALSE);
}

void MainWindow::DescribeRelease()
{
    // After an operation only a problem replaces its result: "ready" or "up to date" would hide
    // it (a cancel, an error, an install) within a second of its arrival.
    const bool hold = std::exchange(holdResult_, false);
    if (windows_ && windows_->build < 22000)
        return SetStatus(Pd::Level::Error, Pd::Core::FormatText(TextId::WindowsCannotRunTovik,
                                                                Pd::Core::Text(TextId::Windows11Required)));
    // Neither "ready to install" nor "up to date": the folder shown is not acted on yet.
    if (!folderRefusal_.empty())
        return SetStatus(Pd::Level::Warning, folderRefusal_);
    if (!manifest_)
        return SetStatus(Pd::Level::Error, Pd::Core::Text(TextId::ReleaseNotAvailableChooseSource));
    if (manifest_->app && !manifest_->app->minimum.empty() &&
        Pd::Core::CompareVersions(PD_VERSION_WTEXT, manifest_->app->minimum) < 0)
        return SetStatus(Pd::Level::Warning,
                         Pd::Core::FormatText(TextId::ReleaseNeedsPeldraVersion, manifest_->version,
                                              manifest_->app->minimum));
    if (hold)
        return;
    if (std::any_of(plan_.items.begin(), plan_.items.end(), [](const auto& row) { return row.needed; }))
        return SetStatus(Pd::Level::Info,
                         Pd::Core::FormatText(installState_.components.empty() ? TextId::ReadyToInstall
                                                                               : TextId::UpdateAvailable,
                                              manifest_->version,
                                              Pd::Core::FormatBytes(plan_.downloadBytes)));
    SetStatus(Pd::Level::Success, Pd::Core::FormatText(TextId::InstalledUpToDate, manifest_->version));
}

void MainWindow::SetStatus(Pd::Level level, std::wstring text)
{
    reportWaiting_ = false; // a report's line that has not shown yet would hide this text
    statusLevel_ = level;
    statusText_ = std::move(text);
    InvalidateRectF(layout_.statusLine);
}

void MainWindow::AppendLog(Pd::Level level, std::wstring text)
{
    logView_.Append(static_cast<std::int32_t>(level), std::move(text));
    if (logVisible_)
        return;
    ++unseenLogLines_;
    Look(MainCommand::LogButton).badge =
        unseenLogLines_ >= 100 ? L"99+" : fmt::format(L"{}", unseenLogLines_);
    ::InvalidateRect(Control(MainCommand::LogButton), nullptr, FALSE);
}

void MainWindow::SetTaskbarProgress(TBPFLAG state, int value)
{
    if (!taskbar_)
        return;
    taskbar_->SetProgressState(window_, state);
    if (state == TBPF_NORMAL || state == TBPF_ERROR)
        taskbar_->SetProgressValue(window_, static_cast<ULONGLONG>(std::max(value, 0)), 1000);
}

void MainWindow::RefreshHostState()
{
    const bool hostRuns = NamedMutexExists(Pd::Host::HostMutexName);
    const bool bridgeOn = hostRuns && Pd::Host::BluetoothEnabled();
    const bool connected = bridgeOn && NamedEventSignalled(L"Local\\Peldra.Bluetooth.Connected");
    const auto state = static_cast<std::uint32_t>(Pd::Core::ReadReleaseState());
    const bool registered = !Pd::Core::ReadUserString(L"GooglePlayRegistered", L"").empty();
    const std::optional<std::wstring> helloHolder = Pd::Bio::Hello::ForeignBridgeHolder();
    bool requested = registrationRequested_;
    if (const auto copy = requested ? Pd::Host::ReadIdCopy() : Pd::Host::IdCopy::Pending;
        copy != Pd::Host::IdCopy::Pending)
    {
        if (copy == Pd::Host::IdCopy::Copied)
            SetStatus(Pd::Level::Info, Pd::Core::Text(TextId::IdCopiedForGooglePage));
        else
            SetStatus(Pd::Level::Error, Pd::Core::Text(TextId::GooglePageOpenIdNotCopied));
        requested = false;
    }
    auto magisk = Pd::Core::ReadUserDword(L"MagiskInAndroid");
    if (magiskRestartPending_ && !busy_ && !(magisk && *magisk == 2))
    {
        bool wanted = Pd::Host::ElevationEnabled() && Pd::Host::ElevationMagiskEnabled();
        bool has = magisk && *magisk != 0 && *magisk != 2;
        if (has == wanted)
        {
            magiskRestartPending_ = false;
            reopenAfterStop_ = true;
            AppendLog(Pd::Level::Info, Pd::Core::Text(TextId::RestartingForMagiskSetting));
            StopTovik();
        }
    }
    if (bridgeOn == bluetoothBridgeOn_ && connected == bluetoothConnected_ && state == releaseState_ &&
        registered == playRegistered_ && requested == registrationRequested_ &&
        helloHolder == helloBridgeHolder_)
        return;
    helloBridgeHolder_ = helloHolder;
    bluetoothBridgeOn_ = bridgeOn;
    bluetoothConnected_ = connected;
    releaseState_ = state;
    playRegistered_ = registered;
    registrationRequested_ = requested;
    UpdateButtons();
    ::InvalidateRect(Control(MainCommand::BluetoothButton), nullptr, FALSE);
    InvalidateRectF(layout_.hostCard);
}

} // namespace Pd::Ui
