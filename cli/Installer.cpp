#include "cli/Installer.h"

#include "cli/ExitCode.h"
#include "core/Elevation.h"
#include "core/Strings.h"
#include "release/program/InstallerModes.h"

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

int RunInstaller(std::span<const std::wstring> words)
{
    if (!Core::IsElevated())
        return static_cast<int>(ExitCode::Unavailable);
    InstallerCall call = ParseInstallerCall(words);
    switch (call.kind)
    {
    case InstallerCall::Kind::StopHosts:
        return Install::StopHostsInAllSessions();
    case InstallerCall::Kind::Uninstall:
        return static_cast<int>(Install::RunUninstallInUserSession(call.sid, call.all));
    default:
        return static_cast<int>(ExitCode::Usage);
    }
}

} // namespace Pd::Cli
