// Removing and measuring folder trees, shared by the install and the uninstall. Both work on
// Win32 attributes and never follow a symbolic link or a junction: a link is removed or skipped
// as itself, never what it points to.
#pragma once

#include "core/Result.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace Pd::Install
{

// Deletes a file, a link or a folder with everything below it. A path that does not exist
// succeeds at once; a status that cannot be read (access denied, a malformed path) is a failure.
// After a failed attempt it waits until one second after that attempt and tries again, up to
// `retries` more times, so that a process that was just stopped can let go of its files. The
// error is "Deleting <path>" with the last Windows error. A drive or share root is never removed.
Result<> RemoveTree(const std::wstring& path, int retries);

// Removes each of the folders that is empty, deepest first (a folder after those inside it); a
// link or a file of that name stays.
void RemoveEmptyFolders(std::vector<std::wstring> folders);

// Total bytes of the regular files below the folder, from the directory listings; folders that
// cannot be opened are skipped and links to folders are not followed. 0 for a missing folder.
std::uint64_t DirectorySize(const std::wstring& folder);

namespace Detail
{
// Sleeps until the given moment; tests pass their own to count the waits and act during them.
using WaitUntil = std::function<void(std::chrono::steady_clock::time_point)>;
Result<> RemoveTreeWith(const std::wstring& path, int retries, const WaitUntil& wait);
} // namespace Detail

} // namespace Pd::Install
