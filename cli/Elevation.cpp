// elevation: the root settings the background host's elevation bridge follows.
#include "cli/Commands.h"

#include "core/Elevation.h"
#include "core/host/HostSettings.h"
#include "core/Settings.h"
#include "core/Strings.h"
#include "core/Text.h"
#include "host/hello/RootChange.h"
#include "host/hello/WindowsHello.h"
#include "release/download/Magisk.h"

#include <fmt/xchar.h>

namespace Pd::Cli
{
namespace
{

constexpr std::uint32_t MagiskWaitingForAndroid = 2;

void AddLine(std::wstring& text, std::wstring_view label, std::wstring_view value)
{
    text += fmt::format(L"{:<23}{}\n", label, value);
}

std::wstring MagiskInAndroidText()
{
    const std::uint32_t value = Core::ReadUserDword(L"MagiskInAndroid").value_or(0);
    if (value == MagiskWaitingForAndroid)
        return L"waiting for Android to confirm the change";
    return value != 0 ? L"on from its next start" : L"off";
}

ExitCode ShowSettings(Console& console)
{
    std::wstring magisk = Host::ElevationMagiskEnabled() ? L"on" : L"off";
    if (auto stored = Core::Magisk::Verified())
        magisk += fmt::format(L" (Magisk {} kept for Android)", stored->tag);
    std::wstring text;
    AddLine(text, L"Root for Android apps",
            Host::ElevationEnabled() ? L"on (every request is confirmed with Windows Hello)" : L"off");
    AddLine(text, L"su for root apps",
            Host::ElevationSuEnabled() ? L"on (apps see su, a link to 0)" : L"off");
    AddLine(text, L"Magisk mode", magisk);
    AddLine(text, L"Magisk in Android", MagiskInAndroidText());
    console.Write(Stream::Output, text);
    return ExitCode::Ok;
}

enum class Switch
{
    On,
    Off,
    Other,
};

Switch SwitchOf(std::wstring_view word)
{
    const std::wstring lower = Core::ToLower(word);
    return lower == L"on" ? Switch::On : lower == L"off" ? Switch::Off : Switch::Other;
}

ExitCode Fail(Console& console, const std::wstring& text, ExitCode code)
{
    console.Row(Level::Error, text);
    return code;
}

ExitCode UsageHint(Console& console, std::wstring_view hint)
{
    console.Write(Stream::Error, fmt::format(L"{}\n", hint));
    return ExitCode::Usage;
}

// Asks before a change that widens the confirmed root settings is stored: with Windows Hello, or a
// message box of this process, never on the console, whose input another program may feed.
// Without administrator rights the host asks instead, and not again for what the user declined
// there: said, so that the row after it is not taken for the change served.
bool Confirmed(Console& console, Host::RootSetting setting)
{
    const Host::RootSettings confirmed = Host::ConfirmedRootSettings();
    if (!Core::IsElevated() && Host::Widens(confirmed, Host::RecordAfterChoice(confirmed, {setting, true})))
        console.Row(Level::Info, Core::Text(TextId::HostAsksForRootChange));
    return Bio::ConfirmRootSettings({setting, true}, {}, [](const std::wstring& text) {
        return Bio::AskInMessageBox(nullptr, text, {});
    });
}

ExitCode NotConfirmed(Console& console)
{
    return Fail(console, L"the change was not confirmed: the root settings stay as they were",
                ExitCode::Canceled);
}

ExitCode SetRoot(Console& console, bool on)
{
    if (on && Bio::CheckAvailability() != Bio::Availability::Available)
        console.Row(Level::Warning,
                    L"Windows Hello is not set up for this account: requests will be refused until it is");
    if (on && !Confirmed(console, Host::RootSetting::Root))
        return NotConfirmed(console);
    if (auto set = Host::SetElevationEnabled(on); !set)
        return Fail(console, set.error(), ExitCode::Failed);
    console.Row(Level::Success,
                on ? L"root for Android apps is on: apps ask with the command 0, Windows Hello decides"
                   : L"root for Android apps is off");
    return ExitCode::Ok;
}

ExitCode SetSu(Console& console, bool on)
{
    if (on && !Confirmed(console, Host::RootSetting::Su))
        return NotConfirmed(console);
    if (auto set = Host::SetElevationSu(on); !set)
        return Fail(console, set.error(), ExitCode::Failed);
    console.Row(Level::Success, on ? L"su for root apps is on (while root for Android apps is on)"
                                   : L"su for root apps is off");
    return ExitCode::Ok;
}

// Fetches the latest Magisk, or checks the one already kept.
ExitCode FetchMagisk(Console& console, const Args& args)
{
    auto release = Core::Magisk::FindLatest({});
    if (!release)
        return Fail(console, release.error(), ExitCode::Unavailable);
    console.SetProgressEnabled(!args.noProgress);
    const std::wstring label = fmt::format(L"Magisk {}", release->tag);
    auto stored = Core::Magisk::Verified();
    const std::wstring_view note = stored && stored->sha256 == release->sha256
                                       ? L"is already here, checked"
                                       : L"downloaded from GitHub and checked";
    auto downloaded = Core::Magisk::Download(
        *release,
        [&](std::uint64_t done, std::uint64_t total) {
            if (total != 0)
                console.Progress(label, static_cast<double>(done) / static_cast<double>(total),
                                 fmt::format(L"{} / {}", Core::FormatBytes(done), Core::FormatBytes(total)));
        },
        [&console](const std::wstring& text) { console.Row(Level::Info, text); }, {});
    console.FlushLine();
    if (!downloaded)
        return Fail(console, downloaded.error(), ExitCode::Failed);
    console.Row(Level::Success,
                fmt::format(L"Magisk {} {} (SHA-256 {})", release->tag, note, release->sha256));
    return ExitCode::Ok;
}

ExitCode SetMagisk(Console& console, const Args& args, bool on)
{
    if (on)
        if (ExitCode fetched = FetchMagisk(console, args); fetched != ExitCode::Ok)
            return fetched;
    if (on && !Confirmed(console, Host::RootSetting::Magisk))
        return NotConfirmed(console);
    if (auto set = Host::SetElevationMagisk(on); !set)
        return Fail(console, set.error(), ExitCode::Failed);
    if (on && !Host::ElevationEnabled())
        console.Row(Level::Warning, L"root for Android apps is off: Magisk mode starts once it is on");
    console.Row(
        Level::Success,
        on ? L"Magisk mode is on: Android starts Magisk from its next start (\"stop\" restarts it now)"
           : L"Magisk mode is off: Android drops Magisk at its next start (\"stop\" restarts it now)");
    return ExitCode::Ok;
}

} // namespace

ExitCode Elevation(Console& console, const Args& args)
{
    if (args.positional.empty())
        return ShowSettings(console);
    const std::wstring form = Core::ToLower(args.positional[0]);
    const Switch value = args.positional.size() > 1 ? SwitchOf(args.positional[1]) : Switch::Other;
    if (form == L"su")
        return value != Switch::Other ? SetSu(console, value == Switch::On)
                                      : UsageHint(console, L"elevation su: on or off");
    if (form == L"magisk")
        return value != Switch::Other ? SetMagisk(console, args, value == Switch::On)
                                      : UsageHint(console, L"elevation magisk: on or off");
    if (const Switch root = SwitchOf(form); root != Switch::Other)
        return SetRoot(console, root == Switch::On);
    return UsageHint(console, L"elevation: on or off");
}

} // namespace Pd::Cli
