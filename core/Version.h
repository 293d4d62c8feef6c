// The program's own version: compared with a release's minimum, with the published program
// version, and sent in the user agent.
#pragma once

#include "pd/ProgramVersion.h"

#include <string_view>

namespace Pd
{

inline constexpr std::wstring_view ProgramVersion = PD_VERSION_WTEXT;

} // namespace Pd
