// install: downloads, verifies, unpacks and registers the release, answering its questions from
// --yes. It runs on the main thread and cannot be cancelled: Ctrl+C ends the process, and a later
// install resumes the downloads.
#include "cli/Commands.h"

#include "cli/ReleaseReporting.h"
#include "cli/ReleaseTarget.h"
#include "cli/Sources.h"
#include "core/Elevation.h"
#include "release/install/InstallRun.h"

#include <fmt/xchar.h>

namespace Pd::Cli
{

ExitCode Install(Console& console, const Args& args)
{
    if (!Core::IsElevated())
    {
        console.Row(Level::Error, NeedsAdministratorText);
        return ExitCode::Unavailable;
    }
    std::wstring address = ResolveManifestUrl(args);
    console.Row(Level::Info, fmt::format(L"manifest {}", address));
    auto target = LoadReleaseTarget(console, args, address);
    if (!target)
        return target.error();
    const Core::Manifest& manifest = target->manifest;
    const Core::InstallFolder& folder = target->folder;

    console.SetProgressEnabled(!args.noProgress);
    Core::Options options;
    options.installFolder = folder;
    options.registerPackage = !args.filesOnly;
    options.keepDownloads = args.keepDownloads;
    Core::Callbacks callbacks{
        [&console](const Core::Progress& progress) { ShowProgress(console, progress); },
        [&console](Level level, const std::wstring& text) { console.Row(level, text); },
        [&console, yes = args.yes](const std::wstring& question) {
            return AnswerFromYes(console, question, yes);
        },
    };
    auto outcome = Core::Run(manifest, options, callbacks, std::stop_token{});
    console.FlushLine();

    if (!outcome)
    {
        console.Row(Level::Error, outcome.error().text);
        return FailureExitCode(outcome.error());
    }
    console.Row(Level::Success,
                fmt::format(L"{} {} installed in {}", manifest.name, manifest.version, folder.Path()));
    if (outcome->restartNeeded)
    {
        console.Row(Level::Warning, L"restart Windows to finish enabling Virtual Machine Platform");
        return ExitCode::Restart;
    }
    return ExitCode::Ok;
}

} // namespace Pd::Cli
