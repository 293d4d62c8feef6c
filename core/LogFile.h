// Where the program log is appended: opened once per process by the log.
#pragma once

#include <cstdio>

namespace Pd::Core::Detail
{

// Opens the log file for appending, shared with other processes; null when there is none.
std::FILE* OpenLogFile();

} // namespace Pd::Core::Detail
