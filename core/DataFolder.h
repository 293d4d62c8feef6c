// The per-user data folder, where the program log lies.
#pragma once

#include <string>

namespace Pd::Core
{

// Local AppData joined with "Peldra"; empty when the known folder cannot be resolved.
// The folder is not created here.
std::wstring DataFolder();

} // namespace Pd::Core
