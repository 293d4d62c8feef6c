// Where a command works: the manifest address from --source or the stored release source, and
// the install folder from --dir or what an elevated install recorded.
#pragma once

#include "cli/Args.h"
#include "cli/Console.h"
#include "core/Result.h"
#include "release/install/RunFolder.h"

#include <string>
#include <string_view>

namespace Pd::Cli
{

// The manifest address of a --source word: "github", "mirror", "local" (also an empty word) in
// any letter case; any other word is taken as the address of a manifest itself.
std::wstring ManifestUrlForSource(std::wstring_view source);

// The manifest address of a command: --source when given, else the one the stored Source and
// CustomManifest values choose (release management reads those, for the window and the host too).
std::wstring ResolveManifestUrl(const Args& args);

// The install folder of a command in its one normal form, by the one rule of
// release/install/RunFolder.h from --dir; a folder named elsewhere and not acted on is
// shown as a warning row.
Result<Core::InstallFolder> ResolveInstallFolder(Console& console, const Args& args,
                                                 Install::FolderUse use = Install::FolderUse::Install);

} // namespace Pd::Cli
