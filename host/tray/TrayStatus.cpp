#include "host/tray/TrayStatus.h"

#include "core/Handles.h"
#include "core/host/HostSettings.h"
#include "core/Text.h"
#include "guest/Vsock.h"
#include "release/install/RunFolder.h"
#include "release/manifest/Updates.h"

#include <windows.h>

namespace Pd::Host
{
namespace
{

constexpr std::size_t TooltipLimit = 127; // szTip less its terminator

bool BluetoothConnected()
{
    UniqueHandle connected(::OpenEventW(SYNCHRONIZE, FALSE, L"Local\\Peldra.Bluetooth.Connected"));
    return connected && ::WaitForSingleObject(connected.Get(), 0) == WAIT_OBJECT_0;
}

// Cut to at most limit UTF-16 units without leaving half a surrogate pair.
std::wstring CutText(std::wstring text, std::size_t limit)
{
    if (text.size() <= limit)
        return text;
    text.resize(limit);
    if (!text.empty() && text.back() >= 0xD800 && text.back() <= 0xDBFF)
        text.pop_back();
    return text;
}

std::wstring AppUpdateText(const TrayStatus& status)
{
    return Core::FormatText(TextId::PeldraUpdateAvailable, status.appUpdate);
}

std::wstring ReleaseUpdateText(const TrayStatus& status)
{
    return Core::FormatText(TextId::AndroidReleaseAvailable, status.releaseUpdate);
}

} // namespace

TrayStatus ReadTrayStatus()
{
    TrayStatus status;
    // What the host's socket loops know: a lookup of the VM can take seconds, and the tray thread
    // must stay responsive. The host runs the registration helper's loop whenever it serves.
    status.androidRunning = Guest::AndroidVmSeen();
    status.bluetoothOn = BluetoothEnabled();
    status.bluetoothConnected = status.bluetoothOn && BluetoothConnected();
    status.elevationOn = ElevationEnabled();
    status.elevationSuOn = ElevationSuEnabled();
    Core::UpdateVersions updates = Core::PendingUpdates(Install::FolderToShow().folder);
    status.appUpdate = std::move(updates.app);
    status.releaseUpdate = std::move(updates.release);
    return status;
}

std::wstring TrayTooltip(const TrayStatus& status)
{
    std::wstring tip = L"Peldra";
    auto line = [&tip](const std::wstring& text) { tip += L'\n' + text; };
    if (!status.appUpdate.empty())
        line(AppUpdateText(status));
    if (!status.releaseUpdate.empty())
        line(ReleaseUpdateText(status));
    line(Core::Text(status.androidRunning ? TextId::AndroidRunning : TextId::AndroidNotRunning));
    line(Core::Text(!status.bluetoothOn         ? TextId::BluetoothOff
                    : status.bluetoothConnected ? TextId::BluetoothConnected
                                                : TextId::BluetoothWaitingForAndroid));
    line(Core::Text(status.elevationOn ? TextId::TrayRootOn : TextId::TrayRootOff));
    return CutText(std::move(tip), TooltipLimit);
}

std::vector<TrayMenuItem> TrayMenuItems(const TrayStatus& status)
{
    auto item = [](TrayCommand id, std::wstring text, bool checked = false, bool greyed = false) {
        return TrayMenuItem{static_cast<std::uint16_t>(id), std::move(text), checked, greyed};
    };
    const TrayMenuItem separator;
    std::vector<TrayMenuItem> items{item(TrayCommand::OpenWindow, Core::Text(TextId::OpenPeldra))};
    if (!status.appUpdate.empty())
        items.push_back(item(TrayCommand::Update, AppUpdateText(status) + L"\u2026"));
    if (!status.releaseUpdate.empty())
        items.push_back(item(TrayCommand::Update, ReleaseUpdateText(status) + L"\u2026"));
    if (items.size() > 1)
        items.push_back(separator);
    items.push_back(item(TrayCommand::AndroidSettings, Core::Text(TextId::AndroidSettingsMenu)));
    if (status.registrationWaiting)
        items.push_back(item(TrayCommand::Register, Core::Text(TextId::RegisterWithGooglePlay)));
    items.push_back(separator);
    items.push_back(
        item(TrayCommand::Bluetooth, Core::Text(TextId::BluetoothForAndroid), status.bluetoothOn));
    items.push_back(item(TrayCommand::Elevation, Core::Text(TextId::RootForAppsMenu), status.elevationOn));
    items.push_back(item(TrayCommand::ElevationSu, Core::Text(TextId::SuForRootAppsMenu),
                         status.elevationSuOn, !status.elevationOn));
    items.push_back(separator);
    items.push_back(
        item(TrayCommand::StopAndroid, Core::Text(TextId::StopTovik), false, !status.androidRunning));
    items.push_back(item(TrayCommand::BluetoothLog, Core::Text(TextId::OpenBluetoothLog)));
    items.push_back(separator);
    items.push_back(item(TrayCommand::HideIcon, Core::Text(TextId::HideIcon)));
    items.push_back(item(TrayCommand::StopHost, Core::Text(TextId::StopBackgroundServices)));
    return items;
}

} // namespace Pd::Host
