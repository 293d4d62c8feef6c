// Removing and measuring folder trees, shared by the install and the uninstall. Neither follows a
// symbolic link, junction or mount point: a link is removed or skipped as itself, never what it
// points to. The elevated removal works through checked handles, since the user's own programs
// may change the folders it empties while it works: each folder is opened as itself, checked to
// be the folder at its path, listed through that handle, and each entry in it is opened as itself,
// checked to be that folder's entry of its name and deleted through its handle.
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
// Nothing is deleted through a link: the way from the drive's root to the path must have none (a
// link found below the path is deleted as itself); where a check finds the path or an entry
// reached through one, what it leads to stays and the error is "Deleting <path>: " with the
// check's text, without retries. A path spelled with short (8.3) names is removed, and named, in
// its long form, which the checks compare with what Windows resolves.
Result<> RemoveTree(const std::wstring& path, int retries);

// RemoveTree for a path at or below folder: the way must have no link from folder down only.
Result<> RemoveTreeBelow(const std::wstring& folder, const std::wstring& path, int retries);

// Removes the folder at path when it is empty, through a handle checked like RemoveTreeBelow's
// from root; a link, a file or a folder reached through a link stays. Whether it was removed.
bool RemoveEmptyFolder(const std::wstring& root, const std::wstring& path);

// RemoveEmptyFolder for each of the folders, deepest first (a folder after those inside it).
void RemoveEmptyFolders(const std::wstring& root, std::vector<std::wstring> folders);

// Total bytes of the regular files below the folder, from the directory listings; folders that
// cannot be opened are skipped and links to folders are not followed. 0 for a missing folder.
std::uint64_t DirectorySize(const std::wstring& folder);

namespace Detail
{
// Sleeps until the given moment; tests pass their own to count the waits and act during them.
using WaitUntil = std::function<void(std::chrono::steady_clock::time_point)>;
Result<> RemoveTreeWith(const std::wstring& path, int retries, const WaitUntil& wait);
Result<> RemoveTreeBelowWith(const std::wstring& folder, const std::wstring& path, int retries,
                             const WaitUntil& wait);
} // namespace Detail

} // namespace Pd::Install
