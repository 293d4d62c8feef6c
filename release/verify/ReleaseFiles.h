// The installed release's own proof, "release.json" and "release.cat" in the install folder, and
// the file helpers that write and read them.
#pragma once

#include "core/Result.h"

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

namespace Pd::Core
{

// The result of verifying the installed release, stored per user as "ReleaseState".
enum class ReleaseState : std::uint32_t
{
    Cancelled = 0,
    Verified = 1,
    Running = 2, // written by the host before it starts the check
    Unverifiable = 3,
    Modified = 4,
    NoInstallFolder = 5,
};

// The stored per-user value; Cancelled when it is missing or not a REG_DWORD.
ReleaseState ReadReleaseState();

// Writes "<path>.new" and renames it over the path, waiting for readers of the path to let go
// (RenameOver); the ".new" file goes again when anything fails.
Pd::Result<> WriteFileReplacing(const std::wstring& path, std::string_view bytes);

// The whole file, read with delete sharing so that no writer has to wait for it; empty when it
// cannot be read or is larger than the limit.
std::string ReadFileBytes(const std::wstring& path,
                          std::uint64_t limit = std::numeric_limits<std::uint64_t>::max());

} // namespace Pd::Core
