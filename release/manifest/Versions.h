// Dotted version texts, the release source the user chose, and whether update checks are on.
#pragma once

#include <string>
#include <string_view>

namespace Pd::Core
{

// -1 when a is lower, 0 when equal, 1 when a is higher. Numbers separated by "."; missing parts
// count as 0, leading zeros do not matter, text without digits counts as 0, anything after a
// part's digits up to the next "." is skipped, and only a part's first twelve significant digits
// count.
int CompareVersions(std::wstring_view a, std::wstring_view b);

// The manifest address of the per-user Source ("github" by default, "mirror", "local" or
// "custom" with CustomManifest; any other text counts as "github").
std::wstring ManifestSource();

// The address of each source.
std::wstring GithubManifestAddress();
std::wstring MirrorManifestAddress();
inline constexpr std::wstring_view LocalManifestAddress = L"http://localhost/peldra/manifest.json";

// The per-user UpdateCheck: on when it is missing, unreadable or not 0.
bool UpdateCheckEnabled();

} // namespace Pd::Core
