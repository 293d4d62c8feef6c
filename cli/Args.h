// The parsed words of a command line: the command, its further words and the options.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace Pd::Cli
{

struct Args
{
    std::wstring command;                 // first word that is not an option, lower-cased
    std::vector<std::wstring> positional; // every further word that is not an option, case kept
    std::wstring source;                  // --source, case kept
    std::wstring dir;                     // --dir, case kept
    bool yes = false;                     // --yes, -y
    bool filesOnly = false;
    bool keepDownloads = false;
    bool noProgress = false;
    bool all = false;
    bool listVms = false;
    bool check = false;
    bool test = false;
    bool fromSetup = false;
};

// Parses the words after the program path into args. Options are taken anywhere on the line and
// for every command. Returns the message of the first mistake (an unknown option, an option
// without its value); parsing stops there.
std::optional<std::wstring> ParseArgs(std::span<const std::wstring> words, Args& args);

} // namespace Pd::Cli
