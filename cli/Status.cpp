// status: Windows, its features, the installed Tovik and the host's settings, as plain lines.
#include "cli/Status.h"

#include "cli/Commands.h"
#include "cli/HelloRemember.h"
#include "cli/ReleaseReporting.h"
#include "cli/Sources.h"
#include "core/host/HostSettings.h"
#include "core/Text.h"
#include "host/hello/BridgeHolder.h"
#include "release/base/InstallState.h"
#include "release/uninstall/Uninstall.h"

#include <fmt/xchar.h>

namespace Pd::Cli
{
namespace
{

// Windows 11 starts with build 22000; from build 28000 on Tovik needs its patch component.
constexpr std::uint32_t FirstSupportedBuild = 22000;
constexpr std::uint32_t FirstPatchedBuild = 28000;

void AddLine(std::wstring& text, std::wstring_view label, std::wstring_view value)
{
    text += fmt::format(L"{:<26}{}\n", label, value);
}

std::wstring_view ReleaseStateText(Core::ReleaseState state)
{
    switch (state)
    {
    case Core::ReleaseState::Verified:
        return L"official release, unchanged";
    case Core::ReleaseState::Running:
        return L"checking the Android disks";
    case Core::ReleaseState::Unverifiable:
        return L"not an official release";
    case Core::ReleaseState::Modified:
        return L"official release changed after installing";
    case Core::ReleaseState::NoInstallFolder:
        return L"Tovik not installed";
    default:
        return L"not checked yet";
    }
}

std::wstring PackageText(const std::optional<Install::PackageInfo>& package)
{
    if (!package)
        return L"not registered";
    return fmt::format(L"{} ({}{})", package->version, package->installLocation,
                       package->developmentMode ? L"" : L", Microsoft Store");
}

} // namespace

std::wstring StatusText(const StatusFacts& facts)
{
    const Core::WindowsInfo& windows = facts.windows;
    std::wstring text;
    AddLine(text, L"Windows", Core::WindowsText(windows));
    AddLine(text, L"Supported", windows.build >= FirstSupportedBuild ? L"yes" : L"no (Windows 11 required)");
    AddLine(text, L"Virtual Machine Platform",
            !windows.virtualMachinePlatform   ? L"unknown"
            : *windows.virtualMachinePlatform ? L"yes"
                                              : L"no");
    AddLine(text, L"Developer mode", windows.developerMode ? L"on" : L"off");
    if (windows.build >= FirstPatchedBuild)
        AddLine(text, L"TovikPatch", L"needed on this build");
    AddLine(text, L"Tovik package", PackageText(windows.installedPackage));
    AddLine(text, L"Install folder", facts.installFolder);
    AddLine(text, L"Installed release", facts.installedVersion.empty() ? L"none" : facts.installedVersion);
    if (!facts.installationNote.empty())
        AddLine(text, L"Installation", facts.installationNote);
    // The host's last check outlives the release it checked: with none installed and no Tovik
    // registered it says nothing.
    AddLine(text, L"Release check (host)",
            ReleaseStateText(facts.installedVersion.empty() && !windows.installedPackage
                                 ? Core::ReleaseState::NoInstallFolder
                                 : facts.releaseState));
    AddLine(text, L"Windows Hello", Bio::AvailabilityText(facts.hello));
    if (facts.helloBridgeHolder)
        AddLine(text, L"Windows Hello bridge",
                Core::FormatText(TextId::HelloBridgeHeldByOther, *facts.helloBridgeHolder));
    AddLine(text, L"Remember Windows Hello", HelloRememberText(facts.helloRememberMinutes));
    AddLine(text, L"Root for Android apps",
            facts.rootForApps ? L"on (confirmed with Windows Hello)" : L"off");
    return text;
}

ExitCode Status(Console& console, const Args& args)
{
    StatusFacts facts;
    facts.windows = Core::QueryWindows();
    if (Result<Install::FolderChoice> choice = Install::ResolveInstallFolder(args.dir, Install::FolderUse::Show))
    {
        if (!choice->notice.empty())
            console.Row(Level::Warning, choice->notice);
        const Core::InstallFolder* folder = &choice->folder;
        facts.installFolder = folder->Path();
        // Shown as what it is: an install that plain commands leave alone until it is chosen.
        if (choice->blocked)
            facts.installFolder += L" (not acted on until chosen: see above)";
        const InstallationNote note = NoteOnInstallation(*folder);
        // A release that an uninstall began removing is no longer installed, whatever is left.
        if (note.kind != InstallationNote::Kind::UninstallCutOff)
            facts.installedVersion = Core::ReadState(*folder).version;
        facts.installationNote = note.text;
    }
    else
    {
        facts.installFolder = choice.error();
    }
    facts.releaseState = Core::ReadReleaseState();
    facts.hello = Bio::CheckAvailability();
    facts.helloBridgeHolder = Bio::Hello::ForeignBridgeHolder();
    facts.helloRememberMinutes = Host::HelloRememberMinutes();
    facts.rootForApps = Host::ElevationEnabled();

    console.EndProgress();
    console.Write(Stream::Output, StatusText(facts));
    return ExitCode::Ok;
}

} // namespace Pd::Cli
