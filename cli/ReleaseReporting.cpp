#include "cli/ReleaseReporting.h"

#include "core/DefaultInstallFolder.h"
#include "core/Strings.h"
#include "core/Text.h"
#include "release/base/InstallState.h"
#include "release/base/RunLock.h"

#include <fmt/xchar.h>

namespace Pd::Cli
{

void ShowProgress(Console& console, const Core::Progress& progress)
{
    if (progress.position < 0 || progress.bytesTotal == 0)
        return;
    std::wstring detail = fmt::format(L"{} / {}", Core::FormatBytes(progress.bytesDone),
                                      Core::FormatBytes(progress.bytesTotal));
    if (progress.bytesPerSecond != 0)
        detail += fmt::format(L"  {}/s", Core::FormatBytes(progress.bytesPerSecond));
    // The bar follows the bytes of the current stage, not the position in the whole run.
    console.Progress(progress.stage,
                     static_cast<double>(progress.bytesDone) / static_cast<double>(progress.bytesTotal),
                     detail);
}

bool AnswerFromYes(Console& console, const std::wstring& question, bool yes)
{
    console.EndProgress();
    console.Write(Stream::Output, question + L"\n");
    console.Write(Stream::Output, yes ? L"  --yes: accepted\n" : L"  not accepted (add --yes to accept)\n");
    return yes;
}

InstallationNote NoteOnInstallation(const Core::InstallFolder& installFolder)
{
    using enum InstallationNote::Kind;
    if (Core::RunLock::HeldElsewhere())
        return {RunInProgress, Core::Text(TextId::RunInProgress)};
    const Core::InstallState state =
        installFolder.empty() ? Core::InstallState{} : Core::ReadState(installFolder);
    const std::wstring& unfinished = state.unfinished;
    // A run that placed nothing final leaves an installed release as it was; without one, nothing
    // is installed yet.
    if (unfinished == Core::UnfinishedInstall && state.version.empty())
        return {InstallCutOff, Core::Text(TextId::InstallCutOff)};
    if (unfinished == Core::UnfinishedUpdate)
        return {UpdateCutOff, Core::Text(TextId::InstallUpdateCutOff)};
    if (unfinished == Core::UnfinishedUninstall)
        return {UninstallCutOff, Core::Text(TextId::UninstallCutOff)};
    if (unfinished == Core::UnfinishedProgram)
        return {ProgramUnfinished,
                Core::FormatText(TextId::ProgramSetupUnfinished, Core::DefaultInstallFolder())};
    return {};
}

ExitCode FailureExitCode(const Core::RunFailure& failure)
{
    return failure.canceled ? ExitCode::Canceled : ExitCode::Failed;
}

} // namespace Pd::Cli
