// Replacing a file by renaming another over it while readers may hold it open. Readers open the
// release's files with delete sharing; where the volume knows POSIX rename semantics, such a reader
// never stands in the way, and only a handle that does not share deleting does. Elsewhere (older
// Windows, other file systems, Wine) a rename over a file that is open at all fails with "access
// denied" until the reader lets go, so the rename is tried again for a while. The same "access
// denied" also comes from the file's permissions, which no wait changes: an open for deleting that
// shares what the rename lets other handles keep tells the two apart, since only a handle that
// stands in the rename's way makes it fail for sharing.
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

// Which other handles to the target make a rename over it fail.
enum class RenameSemantics
{
    Posix, // only those that do not share deleting
    Plain, // every one that reads, writes or deletes
};

// What renames into the folder of target can count on: Posix where its volume says it renames
// with POSIX semantics, else Plain (also when that cannot be told).
RenameSemantics RenameSemanticsAt(const std::wstring& target);

// Waits until no other handle that would make the rename fail holds the file at target (a missing
// file is free), so that a run can find a held file before it changes anything; fails as
// RenameOver names a held or refused file. The semantics are the volume's unless given.
Result<> WaitUntilReplaceable(const std::wstring& target, std::chrono::milliseconds wait = ReaderWait);
Result<> WaitUntilReplaceable(const std::wstring& target, std::chrono::milliseconds wait,
                              RenameSemantics semantics);

// Whether another handle holds the file at target now, as the rename's probe finds it.
bool IsHeldElsewhere(const std::wstring& target);

// Whether a Windows error is a sharing conflict that ends when the other handle is closed.
bool IsSharingConflict(DWORD error);

// What an open of the target for deleting found, sharing what a rename of those semantics lets
// other handles keep (everything for Posix, nothing for Plain).
enum class TargetUse
{
    Missing,       // no file there (any more)
    Free,          // no other handle in the rename's way
    HeldElsewhere, // another handle in the rename's way
    Refused,       // the open itself is refused: the file's permissions
    Unknown,       // a folder there, or another error: no proof of anything
};
TargetUse ProbeTarget(const std::wstring& target, RenameSemantics semantics);

// The next step after a refused rename: renameError is its Windows error, targetIsFile whether a
// file (not a folder) is in the target's place, probe what ProbeTarget found,
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
