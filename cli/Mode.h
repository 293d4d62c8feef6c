// Which of its modes the program starts in, chosen from the words of its command line.
#pragma once

#include <span>
#include <string>

namespace Pd::Cli
{

enum class Mode
{
    Window,         // no arguments, or a command line that could not be split
    CommandLine,    // everything else, "msi" alone included
    BackgroundHost, // exactly "host" (or "bluetooth") and "--background"
    Installer,      // "msi" and at least one more word: the program's own installer package
};

// words is the whole split command line, word 0 the program path; split is false when the
// command line could not be split. Words are matched in any letter case.
Mode ChooseMode(std::span<const std::wstring> words, bool split);

} // namespace Pd::Cli
