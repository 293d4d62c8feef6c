// Replacing a program file that may be running: through a backup under ".old" that is dropped
// once the copy succeeded.
#pragma once

#include "core/Result.h"

#include <string>

namespace Pd::Core
{

// Copies source over target, keeping the old target as "<target>.old" until the copy succeeded;
// after a failed copy the old target is put back. A backup that cannot be deleted (a running
// program) is deleted at the next restart of Windows.
Pd::Result<> ReplaceWithBackup(const std::wstring& source, const std::wstring& target);

} // namespace Pd::Core
