// lng-export and lng-check: the translator's commands.
#include "cli/Commands.h"

#include "core/LanguageFile.h"

#include <fmt/xchar.h>

namespace Pd::Cli
{

ExitCode ExportLanguage(Console& console, const Args& args)
{
    if (args.positional.size() != 1)
    {
        console.Write(Stream::Error, L"lng-export needs a file name\n");
        return ExitCode::Usage;
    }
    return Core::ExportLanguageFile(args.positional.front()) ? ExitCode::Ok : ExitCode::Failed;
}

ExitCode CheckLanguages(Console& console, const Args& args)
{
    std::wstring path = args.positional.empty() ? std::wstring() : args.positional.front();
    std::vector<Core::LanguageCheck> checks = Core::CheckLanguageFiles(path);
    // A file named on the command line that cannot be read is a failure, not an empty folder.
    if (!path.empty() && checks.empty())
    {
        console.Row(Level::Error, fmt::format(L"cannot read the language file {}", path));
        return ExitCode::Failed;
    }

    bool faulty = false;
    for (const Core::LanguageCheck& check : checks)
    {
        std::uint64_t percent = check.total == 0 ? 100 : check.translated * 100 / check.total;
        console.Write(
            Stream::Output,
            fmt::format(L"{} ({}): {}% translated, {} missing, {} unknown, {} broken placeholders\n",
                        check.path, check.name, percent, check.missing.size(), check.extra.size(),
                        check.badFields.size()));
        faulty = faulty || !check.extra.empty() || !check.badFields.empty();
    }
    return faulty ? ExitCode::Failed : ExitCode::Ok;
}

} // namespace Pd::Cli
