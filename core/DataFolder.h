// The per-user data folder, where the program log lies.
#pragma once

#include "core/Result.h"

#include <string>

namespace Pd::Core
{

// Local AppData joined with "Peldra", Local AppData as UserKnownFolder checks it (the failure says
// why it is refused). The folder is not created here.
Result<std::wstring> FindDataFolder();

// FindDataFolder's folder; empty when it is refused.
std::wstring DataFolder();

} // namespace Pd::Core
