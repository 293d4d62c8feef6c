// Where a command works: the manifest address from the source words and settings, and the install
// folder from --dir and settings.
#pragma once

#include "cli/Args.h"
#include "core/Result.h"

#include <string>
#include <string_view>

namespace Pd::Cli
{

// The manifest address of a source word: "github", "mirror", "local" (also an empty word) in any
// letter case; any other word is taken as the address of a manifest itself.
std::wstring ManifestUrlForSource(std::wstring_view source);

// The manifest address of a command: --source when given, else the per-user Source value.
std::wstring ResolveManifestUrl(const Args& args);

// The manifest address of the stored Source and CustomManifest values. Only the exact word
// "custom" selects the custom address; any other value goes through the source words.
std::wstring ManifestUrlForStoredSource(std::wstring_view storedSource, std::wstring_view customManifest);

// The install folder of a command: --dir made absolute against the current folder, else the
// per-user InstallFolder value, else the default install folder. Fails only for a --dir that
// cannot be made absolute.
Result<std::wstring> ResolveInstallFolder(const Args& args);

} // namespace Pd::Cli
