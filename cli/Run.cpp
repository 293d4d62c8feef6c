#include "cli/Run.h"

#include "core/ComApartment.h"

#include "cli/Args.h"
#include "cli/Commands.h"
#include "cli/Usage.h"
#include "core/Language.h"
#include "core/Version.h"

#include <fmt/xchar.h>

#include <objbase.h>

#include <vector>

namespace Pd::Cli
{
namespace
{

using CommandFunction = ExitCode (*)(Console&, const Args&);

struct Command
{
    std::wstring_view name;
    CommandFunction run;
};

// The commands in the order they are compared with the command word.
constexpr Command Commands[] = {
    {L"version", &Version},
    {L"status", &Status},
    {L"check", &Check},
    {L"install", &Install},
    {L"uninstall", &Uninstall},
    {L"bluetooth", &Bluetooth},
    {L"hello", &Hello},
    {L"elevation", &Elevation},
    {L"modem", &Modem},
    {L"verify", &Verify},
    {L"stop", &StopTovik},
    {L"launch", &Launch},
    {L"settings", &OpenSettings},
    {L"register", &Register},
    {L"lng-export", &ExportLanguage},
    {L"lng-check", &CheckLanguages},
};

ExitCode UsageError(Console& console, std::wstring_view message)
{
    console.EndProgress();
    console.Write(Stream::Error, fmt::format(L"{}\n\n", message));
    console.Write(Stream::Output, UsageText());
    return ExitCode::Usage;
}

} // namespace

ExitCode Version(Console& console, const Args&)
{
    console.Write(Stream::Output, fmt::format(L"{} {}\n", L"Peldra", ProgramVersion));
    return ExitCode::Ok;
}

ExitCode Run(Console& console, std::span<const std::wstring> words)
{
    // Texts taken by id come out in English; the user's stored choice stays as it is.
    Core::SetLanguage(L"en", false);

    if (words.size() >= 2 && IsHelpWord(words[1]))
    {
        console.EndProgress();
        console.Write(Stream::Output, UsageText());
        return ExitCode::Ok;
    }

    Args args;
    if (auto error = ParseArgs(words.empty() ? words : words.subspan(1), args))
        return UsageError(console, *error);

    Core::ComApartment apartment(Core::Apartment::Multithreaded);
    for (const Command& command : Commands)
        if (args.command == command.name)
            return command.run(console, args);
    return UsageError(console, fmt::format(L"unknown command {}", args.command));
}

int Run(int count, wchar_t** words)
{
    Console console;
    std::vector<std::wstring> list;
    for (int at = 0; words != nullptr && at < count; ++at)
        list.emplace_back(words[at] != nullptr ? words[at] : L"");
    ExitCode code = Run(console, list);
    console.Close();
    return static_cast<int>(code);
}

} // namespace Pd::Cli
