// How the install and uninstall commands report on the console: the progress callback, the
// answer to a question, and the exit code of a failed install.
#pragma once

#include "cli/Console.h"
#include "cli/ExitCode.h"
#include "release/base/Callbacks.h"
#include "release/install/InstallRun.h"

#include <string>

namespace Pd::Cli
{

// Draws the progress line of the current stage from its bytes ("1.0 MB / 2.0 MB  512.0 KB/s");
// a report without a position or without a byte total draws nothing.
void ShowProgress(Console& console, const Core::Progress& progress);

// Prints the question and the answer that --yes gives, and returns that answer.
bool AnswerFromYes(Console& console, const std::wstring& question, bool yes);

// Why the files of the install folder cannot be taken at face value now: a run is changing the
// installation, or the state file says a first install, an update, the program copy or an
// uninstall was cut off. Empty when none holds.
struct InstallationNote
{
    enum class Kind
    {
        None,
        RunInProgress,
        InstallCutOff,
        UpdateCutOff,
        UninstallCutOff,
        ProgramUnfinished,
    } kind = Kind::None;
    std::wstring text;
};
InstallationNote NoteOnInstallation(const Core::InstallFolder& installFolder);

// 4 when the run was cancelled, otherwise 1.
ExitCode FailureExitCode(const Core::RunFailure& failure);

} // namespace Pd::Cli
