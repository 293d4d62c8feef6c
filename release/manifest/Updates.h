// What the last update check found: a newer program or a newer release, kept in the per-user
// values UpdateApp, UpdateRelease and UpdateChecked for the window, the tray and the command line.
#pragma once

#include "release/base/InstallFolder.h"
#include "release/manifest/Manifest.h"

#include <optional>
#include <string>

namespace Pd::Core
{

struct UpdateVersions
{
    std::wstring app;     // a newer program version, or empty
    std::wstring release; // a newer release version, or empty
};

// The program update a signed manifest offers when its version is newer than the program's.
std::optional<AppInfo> AppUpdate(const Manifest& manifest);

// For a signed manifest: stores the newer program and release versions it offers (empty for none)
// and the time of the check; true when either version differs from what was stored before. An
// unsigned manifest changes nothing and gives false. Write errors are ignored.
bool RecordUpdates(const Manifest& manifest, const InstallFolder& installFolder);

// The recorded versions that are still newer than the program and the installed release.
UpdateVersions PendingUpdates(const InstallFolder& installFolder);

} // namespace Pd::Core
