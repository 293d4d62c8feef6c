// The running program's own file, for its copy into the install folder. A program started from a
// user's folder can be renamed while it runs and another file put at its path by any program of
// that user: the file that is copied is opened so that it can no longer change or move, and is
// proven to be the very file the running image was mapped from, whatever its name is now.
#pragma once

#include "core/Handles.h"
#include "core/Result.h"

#include <string>

namespace Pd::Core
{

// Opens the file at path for reading without sharing it for writing or deleting (nobody can
// change or rename it while the handle is held) and checks that it is the file the running
// program was started from. Fails with a text that says so when it is another file, and with
// "Opening the running program <path>: ..." when it cannot be opened or compared.
Pd::Result<UniqueFile> OpenRunningProgram(const std::wstring& path);

namespace Detail
{
// OpenRunningProgram against the image mapped at image (a module, or a view mapped with SEC_IMAGE).
Pd::Result<UniqueFile> OpenImageFile(const void* image, const std::wstring& path);
} // namespace Detail

} // namespace Pd::Core
