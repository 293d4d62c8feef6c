// Replacing a file by renaming another over it while readers may hold it open. Readers open the
// release's files with delete sharing; where Windows knows POSIX rename semantics, a reader then
// never stands in the way. Elsewhere (older Windows, Wine) a rename over a file that is open fails
// with "access denied" until the reader lets go, so the rename is tried again for a while.
#pragma once

#include "core/Result.h"

#include <windows.h>

#include <chrono>
#include <string>

namespace Pd::Install
{

// How long a rename waits for readers of its target before it gives up.
inline constexpr std::chrono::milliseconds ReaderWait{10000};

// Renames the open file (opened with DELETE access) to target, replacing the file there; a
// sharing conflict on a file there is tried again until the wait is over. The error says that
// another program has the target open when one still does then, else it is "Replacing <target>"
// with the last Windows error.
Result<> RenameOver(HANDLE file, const std::wstring& target, std::chrono::milliseconds wait = ReaderWait);

// Whether a Windows error is a sharing conflict that ends when the other handle is closed.
bool IsSharingConflict(DWORD error);

} // namespace Pd::Install
