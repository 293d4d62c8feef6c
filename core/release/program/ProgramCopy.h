// Replacing a program file that may be running: the new program is copied beside the target and
// renamed over it, so that the target is at every moment either the old program or the new one,
// whole; a running target, which Windows only lets rename, goes aside as ".old" first.
#pragma once

#include "core/Result.h"

#include <string>

namespace Pd::Core
{

// Copies source to "<target>.new" and renames that over target. When the target cannot be
// replaced in place (a running program), it is moved to "<target>.old" first and put back if the
// rename fails; a backup that cannot be deleted afterwards is deleted at the next restart of
// Windows. A failure leaves the old target in place and no ".new" file.
Pd::Result<> ReplaceWithBackup(const std::wstring& source, const std::wstring& target);

namespace Detail
{
// The first half of ReplaceWithBackup: source copied to "<target>.new" (a leftover of a copy that
// was cut off is overwritten); returns that path. The target is not touched.
Pd::Result<std::wstring> CopyBeside(const std::wstring& source, const std::wstring& target);
} // namespace Detail

} // namespace Pd::Core
