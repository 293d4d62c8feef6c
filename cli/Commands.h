// The commands of the command line: each takes the console and the parsed arguments and returns
// its exit code.
#pragma once

#include "cli/Args.h"
#include "cli/Console.h"
#include "cli/ExitCode.h"

namespace Pd::Cli
{

// "Peldra 0.1.2" on the output stream.
ExitCode Version(Console& console, const Args& args);

// lng-export <file>: the translator's template with every built-in text.
ExitCode ExportLanguage(Console& console, const Args& args);

// lng-check [file]: coverage and placeholder check of one language file or of every file in the
// language folder.
ExitCode CheckLanguages(Console& console, const Args& args);

} // namespace Pd::Cli
