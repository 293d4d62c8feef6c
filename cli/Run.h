// The command line: the help words, the option parser, the dispatch to the commands and the exit
// code, on a console of its own.
#pragma once

#include "cli/Console.h"
#include "cli/ExitCode.h"

#include <span>
#include <string>

namespace Pd::Cli
{

// Runs the command line; words is the whole split command line (word 0, the program path, is
// never looked at). Returns the process exit code.
int Run(int count, wchar_t** words);

// The same on a console that the caller owns and closes.
ExitCode Run(Console& console, std::span<const std::wstring> words);

} // namespace Pd::Cli
