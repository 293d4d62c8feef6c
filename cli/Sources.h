// Where a command works: the manifest address from --source or the stored release source, and
// the install folder from --dir or the stored install folder.
#pragma once

#include "cli/Args.h"
#include "core/Result.h"
#include "release/base/InstallFolder.h"

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

// What a command does with its install folder: install into it, or remove, check or show the
// install that is there (allowed also where today's rules would not let an install go).
enum class FolderUse
{
    Install,
    Existing,
};

// The install folder of a command in its one normal form: --dir, else the per-user InstallFolder
// value, else the default install folder. Fails for a folder that cannot be an install folder
// (a relative one among them: an elevated command often starts in System32); for an existing
// install, only for one that cannot name a folder on this PC.
Result<Core::InstallFolder> ResolveInstallFolder(const Args& args, FolderUse use = FolderUse::Install);

} // namespace Pd::Cli
