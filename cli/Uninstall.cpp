// uninstall [--all] [--yes]: without --yes only says what would go; with it, hands over to the
// program's own installer package when there is one, or removes the release in place.
#include "cli/Commands.h"

#include "cli/Sources.h"
#include "core/Elevation.h"
#include "core/Strings.h"
#include "core/Text.h"
#include "release/folders/FileTree.h"
#include "release/program/InstalledMsi.h"
#include "release/uninstall/Leftovers.h"
#include "release/uninstall/Uninstall.h"

#include <fmt/xchar.h>

namespace Pd::Cli
{
namespace
{

ExitCode Preview(Console& console, const Args& args, const Core::InstallFolder& folder,
                 const std::wstring& dataFolder)
{
    if (args.all)
        console.Write(
            Stream::Output,
            fmt::format(L"uninstall --all removes Peldra ({}) and everything Tovik left in Windows, "
                        L"including the Android apps, their data and the Google account sign-in ({} in "
                        L"{}).\n",
                        folder.Path(), Core::FormatBytes(Install::DirectorySize(dataFolder)), dataFolder));
    else
        console.Write(Stream::Output,
                      fmt::format(L"uninstall removes Peldra ({}); the Android apps and their data "
                                  L"stay in {} for the next installation.\n",
                                  folder.Path(), dataFolder));
    console.Write(Stream::Output, L"  not done (add --yes to confirm)\n");
    return ExitCode::Canceled;
}

ExitCode RemoveInPlace(Console& console, const Args& args, const Core::InstallFolder& folder)
{
    Core::Callbacks callbacks{
        [](const Core::Progress&) {},
        [&console](Level level, const std::wstring& text) { console.Row(level, text); },
        [](const std::wstring&) { return true; },
    };
    Result<Core::RemovalOutcome> outcome =
        Core::Uninstall(folder, args.all ? Core::Removal::Everything : Core::Removal::KeepData, callbacks);
    if (!outcome)
    {
        console.Row(Level::Error, outcome.error());
        return ExitCode::Failed;
    }
    if (!outcome->failures.empty())
    {
        console.Row(Level::Warning,
                    fmt::format(L"{} item(s) could not be removed (see above)", outcome->failures.size()));
        return ExitCode::Failed;
    }
    console.Row(Level::Success,
                Core::Text(args.all ? TextId::EverythingRemoved : TextId::UninstalledAndroidDataKept));
    if (outcome->restartNeeded)
    {
        console.Row(Level::Warning, L"restart Windows to finish disabling Virtual Machine Platform");
        return ExitCode::Restart;
    }
    return ExitCode::Ok;
}

} // namespace

ExitCode Uninstall(Console& console, const Args& args)
{
    if (!Core::IsElevated())
    {
        console.Row(Level::Error, NeedsAdministratorText);
        return ExitCode::Unavailable;
    }
    Result<Core::InstallFolder> folder = ResolveInstallFolder(console, args, Install::FolderUse::Existing);
    if (!folder)
    {
        console.Row(Level::Error, folder.error());
        return ExitCode::Failed;
    }
    if (!args.yes)
        return Preview(console, args, *folder, Install::TovikDataFolder());

    // Installed with Peldra Setup: Windows Installer removes it, and calls back with --from-setup.
    if (!args.fromSetup)
    {
        if (std::optional<std::wstring> productCode = Install::FindInstalledMsi())
        {
            if (Result<> started = Install::StartMsiUninstall(*productCode, args.all); !started)
            {
                console.Row(Level::Error, started.error());
                return ExitCode::Failed;
            }
            console.Row(Level::Info, fmt::format(L"Peldra Setup ({}) removes Peldra now", *productCode));
            return ExitCode::Ok;
        }
    }
    return RemoveInPlace(console, args, *folder);
}

} // namespace Pd::Cli
