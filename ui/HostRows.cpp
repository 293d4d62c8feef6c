#include "ui/HostRows.h"

#include "core/Text.h"

#include <optional>

namespace Pd::Ui
{
namespace
{

HostRow Row(TextId label, std::wstring value, Tone tone, std::optional<TextId> note = std::nullopt)
{
    return HostRow{label, std::move(value), tone, note ? Pd::Core::Text(*note) : std::wstring(), false};
}

HostRow WindowsRow(const Pd::Core::WindowsInfo& windows)
{
    std::wstring text = Pd::Core::WindowsText(windows);
    if (windows.build < 22000)
        return Row(TextId::WindowsRow, std::move(text), Tone::Bad, TextId::Windows11Required);
    if (windows.build >= 28000)
        return Row(TextId::WindowsRow, std::move(text), Tone::Attention, TextId::TovikPatchNeeded);
    return Row(TextId::WindowsRow, std::move(text), Tone::Good);
}

HostRow PackageRow(const HostFacts& facts)
{
    const auto& package = facts.windows->installedPackage;
    if (!package)
        return Row(TextId::TovikPackage, Pd::Core::Text(TextId::NotRegistered), Tone::Attention);
    if (!package->developmentMode) // installed from the Store
        return Row(TextId::TovikPackage,
                   Pd::Core::FormatText(TextId::VersionFromMicrosoftStore, package->version), Tone::Attention,
                   TextId::ReplacedAndroidDataStays);
    if (facts.packageFromInstallFolder)
        return Row(TextId::TovikPackage,
                   Pd::Core::FormatText(TextId::RegisteredFromInstallFolder, package->version), Tone::Good);
    return Row(TextId::TovikPackage,
               Pd::Core::FormatText(TextId::VersionFromSource, package->version, package->installLocation),
               Tone::Attention, TextId::ReplacedAndroidDataStays);
}

HostRow BluetoothRow(const HostFacts& facts)
{
    if (!facts.releaseChecked)
        return Row(TextId::Bluetooth, Pd::Core::Text(TextId::StillReading), Tone::Neutral);
    if (facts.bluetoothAdapter == 0)
        return Row(TextId::Bluetooth, Pd::Core::Text(TextId::NoBluetoothAdapter), Tone::Neutral);
    if (facts.releaseState == 2)
        return Row(TextId::Bluetooth, Pd::Core::Text(TextId::CheckingInstalledRelease), Tone::Neutral);
    if (facts.releaseState == 3 || facts.releaseState == 4)
        return Row(TextId::Bluetooth, Pd::Core::Text(TextId::OfficialReleaseOnly), Tone::Neutral);
    if (!facts.bridgeOn)
        return Row(TextId::Bluetooth, Pd::Core::Text(TextId::OffForAndroid), Tone::Attention,
                   TextId::BluetoothMenu);
    std::optional<TextId> note;
    if (facts.startWithWindows)
        note = TextId::StartsWithWindows;
    if (facts.connected)
        return Row(TextId::Bluetooth, Pd::Core::Text(TextId::ConnectedToAndroid), Tone::Good, note);
    return Row(TextId::Bluetooth, Pd::Core::Text(TextId::OnWaitingForAndroid), Tone::Neutral, note);
}

} // namespace

std::vector<HostRow> HostRows(const HostFacts& facts)
{
    std::vector<HostRow> rows;
    if (!facts.windows)
    {
        for (TextId label : {TextId::WindowsRow, TextId::VirtualMachinePlatform, TextId::DeveloperMode,
                             TextId::TovikPackage, TextId::Bluetooth})
            rows.push_back(Row(label, Pd::Core::Text(TextId::StillReading), Tone::Neutral));
        return rows;
    }
    const auto& windows = *facts.windows;
    rows.push_back(WindowsRow(windows));
    if (!windows.virtualMachinePlatform)
        rows.push_back(Row(TextId::VirtualMachinePlatform, Pd::Core::Text(TextId::Unknown), Tone::Neutral));
    else if (*windows.virtualMachinePlatform)
        rows.push_back(Row(TextId::VirtualMachinePlatform, Pd::Core::Text(TextId::Enabled), Tone::Good));
    else
        rows.push_back(Row(TextId::VirtualMachinePlatform, Pd::Core::Text(TextId::Disabled), Tone::Attention,
                           TextId::EnabledRestartNeeded));
    rows.push_back(windows.developerMode
                       ? Row(TextId::DeveloperMode, Pd::Core::Text(TextId::OnState), Tone::Good)
                       : Row(TextId::DeveloperMode, Pd::Core::Text(TextId::OffState), Tone::Attention,
                             TextId::TurnedOnByInstallation));
    rows.push_back(PackageRow(facts));
    rows.push_back(BluetoothRow(facts));
    if (facts.showsRegistration)
    {
        HostRow play =
            facts.registrationRequested
                ? Row(TextId::GooglePlay, Pd::Core::Text(TextId::WaitingForAndroid), Tone::Neutral)
            : facts.playRegistered
                ? Row(TextId::GooglePlay, Pd::Core::Text(TextId::RegisteredFromThisPc), Tone::Good)
                : Row(TextId::GooglePlay, Pd::Core::Text(TextId::NotRegisteredFromThisPc), Tone::Attention);
        play.reservesRegister = true;
        rows.push_back(std::move(play));
    }
    if (facts.helloBridgeHolder)
        rows.push_back(Row(TextId::HelloBridgeRow,
                           Pd::Core::FormatText(TextId::HelloBridgeBlocked, *facts.helloBridgeHolder),
                           Tone::Bad));
    return rows;
}

} // namespace Pd::Ui
