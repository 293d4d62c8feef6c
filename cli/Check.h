// What "check" prints about a release manifest and what installing it would fetch.
#pragma once

#include "release/install/ReleasePlan.h"
#include "release/manifest/Manifest.h"

#include <string>

namespace Pd::Cli
{

// The release, where it comes from and whether it is official, the program versions it asks for,
// then one line per planned component between empty lines.
std::wstring CheckText(const Core::Manifest& manifest, const Core::ReleasePlan& plan,
                       std::wstring_view address, std::wstring_view folder);

} // namespace Pd::Cli
