#include "cli/Args.h"

#include "core/Strings.h"

#include <fmt/xchar.h>

namespace Pd::Cli
{
namespace
{

struct Flag
{
    const wchar_t* option;
    bool Args::*field;
};

constexpr Flag Flags[] = {
    {L"--yes", &Args::yes},
    {L"-y", &Args::yes},
    {L"--files-only", &Args::filesOnly},
    {L"--keep-downloads", &Args::keepDownloads},
    {L"--no-progress", &Args::noProgress},
    {L"--all", &Args::all},
    {L"--from-setup", &Args::fromSetup},
    {L"--list-vms", &Args::listVms},
    {L"--check", &Args::check},
    {L"--test", &Args::test},
};

} // namespace

std::optional<std::wstring> ParseArgs(std::span<const std::wstring> words, Args& args)
{
    for (std::size_t at = 0; at < words.size(); ++at)
    {
        const std::wstring& word = words[at];
        std::wstring lower = Core::ToLower(word);

        if (lower == L"--source" || lower == L"--dir")
        {
            // The next word is the value whatever it looks like, even "--yes".
            if (at + 1 == words.size())
                return fmt::format(L"{} needs a value", word);
            (lower == L"--source" ? args.source : args.dir) = words[++at];
            continue;
        }
        if (lower == L"--version")
        {
            args.command = L"version";
            continue;
        }
        bool matched = false;
        for (const Flag& flag : Flags)
        {
            if (lower == flag.option)
            {
                args.*flag.field = true;
                matched = true;
                break;
            }
        }
        if (matched)
            continue;
        if (word.starts_with(L'-'))
            return fmt::format(L"unknown option {}", word);
        if (args.command.empty())
            args.command = std::move(lower);
        else
            args.positional.push_back(word);
    }
    return std::nullopt;
}

} // namespace Pd::Cli
