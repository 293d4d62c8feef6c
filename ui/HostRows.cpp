#include "ui/HostRows.h"

#include "core/Text.h"

namespace Pd::Ui
{
namespace
{

HostRow Row(std::uint32_t label, std::wstring value, Tone tone, std::uint32_t note = 0)
{
    return HostRow{label, std::move(value), tone, note ? Pd::Core::Text(note) : std::wstring(), false};
}

HostRow WindowsRow(const Pd::Core::WindowsInfo& windows)
{
    std::wstring text = Pd::Core::WindowsText(windows);
    if (windows.build < 22000)
        return Row(13000, std::move(text), Tone::Bad, 13005);
    if (windows.build >= 28000)
        return Row(13000, std::move(text), Tone::Attention, 13006);
    return Row(13000, std::move(text), Tone::Good);
}

HostRow PackageRow(const HostFacts& facts)
{
    const auto& package = facts.windows->installedPackage;
    if (!package)
        return Row(13003, Pd::Core::Text(13010), Tone::Attention);
    if (!package->developmentMode) // installed from the Store
        return Row(13003, Pd::Core::FormatText(13011, package->version), Tone::Attention, 13014);
    if (facts.packageFromInstallFolder)
        return Row(13003, Pd::Core::FormatText(13013, package->version), Tone::Good);
    return Row(13003, Pd::Core::FormatText(13012, package->version, package->installLocation),
               Tone::Attention, 13014);
}

HostRow BluetoothRow(const HostFacts& facts)
{
    if (!facts.releaseChecked)
        return Row(13018, Pd::Core::Text(13004), Tone::Neutral);
    if (facts.bluetoothAdapter == 0)
        return Row(13018, Pd::Core::Text(13019), Tone::Neutral);
    if (facts.releaseState == 2)
        return Row(13018, Pd::Core::Text(13027), Tone::Neutral);
    if (facts.releaseState == 3 || facts.releaseState == 4)
        return Row(13018, Pd::Core::Text(13026), Tone::Neutral);
    if (!facts.bridgeOn)
        return Row(13018, Pd::Core::Text(13020), Tone::Attention, 13023);
    std::uint32_t note = facts.startWithWindows ? 13022 : 0;
    if (facts.connected)
        return Row(13018, Pd::Core::Text(13024), Tone::Good, note);
    return Row(13018, Pd::Core::Text(13021), Tone::Neutral, note);
}

} // namespace

std::vector<HostRow> HostRows(const HostFacts& facts)
{
    std::vector<HostRow> rows;
    if (!facts.windows)
    {
        for (std::uint32_t label : {13000u, 13001u, 13002u, 13003u, 13018u})
            rows.push_back(Row(label, Pd::Core::Text(13004), Tone::Neutral));
        return rows;
    }
    const auto& windows = *facts.windows;
    rows.push_back(WindowsRow(windows));
    if (!windows.virtualMachinePlatform)
        rows.push_back(Row(13001, Pd::Core::Text(10002), Tone::Neutral));
    else if (*windows.virtualMachinePlatform)
        rows.push_back(Row(13001, Pd::Core::Text(13007), Tone::Good));
    else
        rows.push_back(Row(13001, Pd::Core::Text(13015), Tone::Attention, 13008));
    rows.push_back(windows.developerMode ? Row(13002, Pd::Core::Text(13016), Tone::Good)
                                         : Row(13002, Pd::Core::Text(13017), Tone::Attention, 13009));
    rows.push_back(PackageRow(facts));
    rows.push_back(BluetoothRow(facts));
    if (facts.showsRegistration)
    {
        HostRow play = facts.registrationRequested ? Row(13028, Pd::Core::Text(13031), Tone::Neutral)
                       : facts.playRegistered      ? Row(13028, Pd::Core::Text(13030), Tone::Good)
                                                   : Row(13028, Pd::Core::Text(13029), Tone::Attention);
        play.reservesRegister = true;
        rows.push_back(std::move(play));
    }
    return rows;
}

} // namespace Pd::Ui
