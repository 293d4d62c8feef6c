// The one way this program starts another: by its full path, with the environment block of
// core/ChildEnvironment.h, System32 as its current folder and no handles inherited, so that
// nothing the user's own programs set in the environment or the working folder reaches it.
#pragma once

#include "core/Handles.h"

#include <cstdint>
#include <expected>
#include <string>

namespace Pd::Core
{

// Starts the program (a full path) with the command line (its first word the program, quoted)
// and the creation flags; the process, or the Windows error when it could not be started
// (ERROR_BAD_PATHNAME for a path that is not full).
std::expected<UniqueHandle, std::uint32_t> StartProgram(const std::wstring& program, std::wstring commandLine,
                                                        std::uint32_t creationFlags);

} // namespace Pd::Core
