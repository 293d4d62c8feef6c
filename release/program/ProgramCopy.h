// Replacing a program file that may be running: the new program is copied beside the target and
// renamed over it, so that the target is at every moment either the old program or the new one,
// whole; a running target, which Windows only lets rename, goes aside as ".old" first.
#pragma once

#include "core/Result.h"

#include <windows.h>

#include <string>
#include <string_view>

namespace Pd::Core
{

// Copies the whole file of the open handle source (read from its start, whatever its position) to
// "<target>.new" and renames that over target. The source is never opened by a path: what is
// copied is the file the caller opened and checked. When the target cannot be replaced in place
// (a running program), it is moved to "<target>.old" first and put back if the rename fails; a
// backup that cannot be deleted afterwards is deleted at the next restart of Windows. A failure
// leaves the old target in place and no ".new" file.
Pd::Result<> ReplaceWithBackup(HANDLE source, const std::wstring& target);

namespace Detail
{
// The first half of ReplaceWithBackup: the source's file copied to "<target>.new" (a leftover of
// a copy that was cut off is overwritten); returns that path. The target is not touched.
Pd::Result<std::wstring> CopyBeside(HANDLE source, const std::wstring& target);
} // namespace Detail

} // namespace Pd::Core
