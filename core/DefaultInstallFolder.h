// The default install folder: where the program installs itself and keeps its downloads,
// whatever install folder the user chose for the release.
#pragma once

#include <string>

namespace Pd::Core
{

// The Program Files known folder joined with "Peldra". Never fails: when the known folder
// cannot be resolved, the conventional "C:\Program Files" stands in.
std::wstring DefaultInstallFolder();

} // namespace Pd::Core
