// verify: whether the installed Android is an official release, unchanged, in the folder given
// (as a word or with --dir) or else the installed package's. Needs no administrator rights.
#include "cli/Commands.h"

#include "cli/ReleaseReporting.h"
#include "release/folders/InstallFolderRules.h"
#include "release/verify/ReleaseVerification.h"
#include "release/windows/Packages.h"

#include <fmt/xchar.h>

namespace Pd::Cli
{

ExitCode Verify(Console& console, const Args& args)
{
    // The folder as typed is read as every other command reads it, so that the same text names the
    // same folder; where an install may go does not matter for checking one that is there.
    Core::InstallFolder folder;
    const std::wstring& typed = !args.positional.empty() ? args.positional.front() : args.dir;
    if (!typed.empty())
    {
        Result<std::wstring> normal = Install::InstalledFolderFromText(typed);
        if (!normal)
        {
            console.Row(Level::Error, normal.error());
            return ExitCode::Failed;
        }
        folder = Core::InstallFolder::From(*normal);
    }
    else if (auto package = Install::FindInstalledPackage())
    {
        folder = Core::InstallFolder::From(package->installLocation);
    }

    console.Write(Stream::Output,
                  fmt::format(L"Folder  {}\n", folder.empty() ? L"(Tovik not installed)" : folder.Path()));
    // Files that a run is placing, or that a cut-off update left half placed, are no tampering.
    const InstallationNote note = NoteOnInstallation(folder);
    using enum InstallationNote::Kind;
    if (note.kind == RunInProgress)
    {
        console.Row(Level::Warning, note.text);
        return ExitCode::Unavailable;
    }
    if (note.kind == InstallCutOff)
    {
        console.Row(Level::Error, note.text);
        return ExitCode::Unavailable;
    }
    if (note.kind == UpdateCutOff || note.kind == UninstallCutOff)
    {
        console.Row(Level::Error, note.text);
        return ExitCode::Failed;
    }
    if (note.kind == ProgramUnfinished)
        console.Row(Level::Warning, note.text);

    Core::ReleaseState result = Core::VerifyRelease(folder, {});
    switch (result)
    {
    case Core::ReleaseState::Verified:
        console.Row(Level::Success, L"official Peldra release, unchanged");
        return note.kind == None ? ExitCode::Ok : ExitCode::Failed;
    case Core::ReleaseState::Modified:
        console.Row(Level::Error, L"official release, but its Android files were changed after installing");
        return ExitCode::Failed;
    case Core::ReleaseState::NoInstallFolder:
        console.Row(Level::Error, L"Tovik is not installed");
        return ExitCode::Unavailable;
    default:
        console.Row(Level::Error, L"not an official Peldra release (no valid publisher signature)");
        return ExitCode::Failed;
    }
}

} // namespace Pd::Cli
