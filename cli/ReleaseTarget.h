// What check and install work on: the release manifest of the command's source and the command's
// install folder.
#pragma once

#include "cli/Args.h"
#include "cli/Console.h"
#include "cli/ExitCode.h"
#include "release/base/InstallFolder.h"
#include "release/manifest/Manifest.h"

#include <expected>
#include <string>

namespace Pd::Cli
{

struct ReleaseTarget
{
    Core::Manifest manifest;
    Core::InstallFolder folder;
};

// Resolves the install folder, then loads the manifest at address with its catalog, waiting as
// long as the window does (10 s to connect, 20 s for an answer; Ctrl+C ends the process). A
// failure is printed as a FAIL row and gives the exit code: 3 for a manifest that cannot be read,
// 1 for a folder that cannot be used.
std::expected<ReleaseTarget, ExitCode> LoadReleaseTarget(Console& console, const Args& args,
                                                         const std::wstring& address);

} // namespace Pd::Cli
