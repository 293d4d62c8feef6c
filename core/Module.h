// The program's own module: its handle (for the string table) and its path.
#pragma once

#include <windows.h>

#include <string>

namespace Pd::Core
{

// The module that holds this code, found once from the code's own address without taking a
// reference; kept for the process.
HMODULE ModuleHandle();

// Full path of the running executable (longer than MAX_PATH too); empty on failure.
std::wstring ModulePath();

} // namespace Pd::Core
