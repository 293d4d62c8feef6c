// The Mobile Broadband COM interfaces as declared here, for the platform tests' comparison with
// the published ABI facts (beside the Windows Runtime table).
#pragma once

#include "platform/winrt/AbiTable.h"

#include <vector>

namespace Pd::Platform::Mbn
{

const std::vector<WinRt::DeclaredInterface>& DeclaredComInterfaces();

} // namespace Pd::Platform::Mbn
