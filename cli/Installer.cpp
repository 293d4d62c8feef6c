#include "cli/Installer.h"

#include "core/Strings.h"

namespace Pd::Cli
{

InstallerCall ParseInstallerCall(std::span<const std::wstring> words)
{
    auto is = [&words](std::size_t at, std::wstring_view word) { return Core::ToLower(words[at]) == word; };

    InstallerCall call;
    if (words.size() == 3 && is(2, L"stop-hosts"))
        call.kind = InstallerCall::Kind::StopHosts;
    else if ((words.size() == 4 || (words.size() == 5 && is(4, L"--all"))) && is(2, L"uninstall"))
    {
        call.kind = InstallerCall::Kind::Uninstall;
        call.sid = words[3];
        call.all = words.size() == 5;
    }
    return call;
}

} // namespace Pd::Cli
