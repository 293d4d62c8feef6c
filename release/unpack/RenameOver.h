// Replacing a file by renaming another over it while readers may hold it open. Readers open the
// release's files with delete sharing; where Windows knows POSIX rename semantics, a reader then
// never stands in the way. Elsewhere (older Windows, Wine) a rename over a file that is open fails
// with "access denied" until the reader lets go, so the rename is tried again for a while. The
// same "access denied" also comes from the file's permissions, which no wait changes: an open that
// shares nothing tells the two apart, since only another handle makes it fail for sharing.
#pragma once

#include "core/Result.h"

#include <windows.h>

#include <chrono>
#include <string>

namespace Pd::Install
{

// How long a rename waits for readers of its target before it gives up.
inline constexpr std::chrono::milliseconds ReaderWait{10000};

// Renames the open file (opened with DELETE access) to `name` in the folder open as `folder` (a
// handle the caller checked), replacing the file there whatever its read-only attribute. target is
// that file's full path, for the texts and the probe. A target that another handle holds is tried
// again until the wait is over, and then named as open in another program; one refused although
// nothing holds it is named as refused by its permissions at once; anything else is "Replacing
// <target>" with the Windows error.
Result<> RenameOver(HANDLE file, HANDLE folder, const std::wstring& name, const std::wstring& target,
                    std::chrono::milliseconds wait = ReaderWait);

// Waits until no other handle holds the file at target (a missing file is free), so that a run can
// find a held file before it changes anything; fails as RenameOver names a held or refused file.
Result<> WaitUntilReplaceable(const std::wstring& target, std::chrono::milliseconds wait = ReaderWait);

// Whether another handle holds the file at target now, as the rename's probe finds it.
bool IsHeldElsewhere(const std::wstring& target);

// Whether a Windows error is a sharing conflict that ends when the other handle is closed.
bool IsSharingConflict(DWORD error);

// What an open of the target for deleting that shares nothing found.
enum class TargetUse
{
    Missing,       // no file there (any more)
    Free,          // no other handle to it
    HeldElsewhere, // another handle to it
    Refused,       // the open itself is refused: the file's permissions
    Unknown,       // a folder there, or another error: no proof of anything
};

// The next step after a refused rename: renameError is its Windows error, targetIsFile whether a
// file (not a folder) is in the target's place, probe what the open that shares nothing found,
// timeUp whether the wait is over, and freeBefore whether the look before found no handle either
// (a reader that let go in between gets one more try).
enum class RenameStep
{
    Retry,
    HeldElsewhere,
    Refused,
    Failed, // "Replacing <target>" with the rename's error
};
RenameStep NextRenameStep(DWORD renameError, bool targetIsFile, TargetUse probe, bool timeUp,
                          bool freeBefore);

} // namespace Pd::Install
