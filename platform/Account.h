// The account this process runs as.
#pragma once

#include <string>

namespace Pd::Platform
{

// The process token's user as a SID text ("S-1-5-21-..."); empty on any failure.
std::wstring ProcessUserSid();

} // namespace Pd::Platform
