// The commands of the command line: each takes the console and the parsed arguments and returns
// its exit code.
#pragma once

#include "cli/Args.h"
#include "cli/Console.h"
#include "cli/ExitCode.h"

#include <string_view>

namespace Pd::Cli
{

// The refusal of the commands that change the system.
inline constexpr std::wstring_view NeedsAdministratorText = L"run this from an elevated (administrator) prompt";

// "Peldra 0.1.2" on the output stream.
ExitCode Version(Console& console, const Args& args);

// status: Windows, Virtual Machine Platform, developer mode, the installed Tovik and the host's
// settings; always 0.
ExitCode Status(Console& console, const Args& args);

// check: the release manifest and what an install would download; 3 when it cannot be read.
ExitCode Check(Console& console, const Args& args);

// verify [folder]: whether the installed release (or the one in folder) is official and
// unchanged: 0 yes, 1 no, 3 nothing installed.
ExitCode Verify(Console& console, const Args& args);

// lng-export <file>: the translator's template with every built-in text.
ExitCode ExportLanguage(Console& console, const Args& args);

// lng-check [file]: coverage and placeholder check of one language file or of every file in the
// language folder.
ExitCode CheckLanguages(Console& console, const Args& args);

} // namespace Pd::Cli
