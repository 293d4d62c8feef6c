// What "status" prints: the facts it gathers and the lines they make.
#pragma once

#include "host/hello/WindowsHello.h"
#include "release/verify/ReleaseFiles.h"
#include "release/windows/WindowsInfo.h"

#include <cstdint>
#include <optional>
#include <string>

namespace Pd::Cli
{

struct StatusFacts
{
    Core::WindowsInfo windows;
    std::wstring installFolder;    // or the reason it cannot be used
    std::wstring installedVersion; // from the folder's state file; empty for none
    std::wstring installationNote; // a run in progress or a cut-off one; empty for none
    Core::ReleaseState releaseState = Core::ReleaseState::Cancelled;
    Bio::Availability hello = Bio::Availability::CheckFailed;
    std::uint32_t helloRememberMinutes = 0;
    bool rootForApps = false;
    std::optional<std::wstring> helloBridgeHolder; // a program other than Peldra holding its name
};

// One line per fact: the label padded to 26 columns, then the value.
std::wstring StatusText(const StatusFacts& facts);

} // namespace Pd::Cli
