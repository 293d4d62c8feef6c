#include "cli/Mode.h"

#include "core/Strings.h"

namespace Pd::Cli
{

Mode ChooseMode(std::span<const std::wstring> words, bool split)
{
    auto is = [&words](std::size_t at, std::wstring_view word) { return Core::ToLower(words[at]) == word; };

    if (split && words.size() == 3 && (is(1, L"host") || is(1, L"bluetooth")) && is(2, L"--background"))
        return Mode::BackgroundHost;
    if (!split || words.size() <= 1)
        return Mode::Window;
    if (words.size() >= 3 && is(1, L"msi"))
        return Mode::Installer;
    return Mode::CommandLine;
}

} // namespace Pd::Cli
