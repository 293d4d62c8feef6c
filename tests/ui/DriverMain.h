// The process entry that the window check's driver and the window benchmark share: each exe
// defines RunMode; reports go to standard output one line each.
#pragma once

#include <windows.h>

#include <string>

namespace Pd::UiDriver
{

void Say(const std::string& line);

// The mode is the first argument, the number the second (0 when missing); runs with COM and the
// common controls set up, and its result is the exit code (2 for an unknown mode).
int RunMode(HINSTANCE instance, const std::wstring& mode, int number);

} // namespace Pd::UiDriver
