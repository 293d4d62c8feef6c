// The two invocations of the program's own installer package, which runs them under the system
// account: "msi stop-hosts" and "msi uninstall <SID> [--all]".
#pragma once

#include <span>
#include <string>

namespace Pd::Cli
{

struct InstallerCall
{
    enum class Kind
    {
        StopHosts, // stop the background host in every session
        Uninstall, // remove the release as the user with this SID
        Malformed, // any other words or count
    };
    Kind kind = Kind::Malformed;
    std::wstring sid;
    bool all = false; // also remove the Android apps and data

    bool operator==(const InstallerCall&) const = default;
};

// words is the whole split command line: the program path, "msi", then what the package asks
// for. Words are matched in any letter case; the SID keeps its case.
InstallerCall ParseInstallerCall(std::span<const std::wstring> words);

// Runs an installer invocation and returns its exit code: 3 without administrator rights (before
// the words are looked at), 2 for malformed words, otherwise the result of the action.
int RunInstaller(std::span<const std::wstring> words);

} // namespace Pd::Cli
