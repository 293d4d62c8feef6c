// Writing below a folder without ever going through a link. A symbolic link, junction or mount
// point planted inside an install folder would let an elevated install write wherever it points:
// every folder the install creates and every file it opens for writing below its folder is
// checked component by component, and a file is opened without following a final link and then
// checked again through its handle (its attributes and the path Windows resolved for it), so a
// link swapped in between the check and the open is caught before a byte is written. Deletes go
// the same way. Every open here may name a pipe the user made: its server may only identify the
// process, never act as it.
#pragma once

#include "core/Handles.h"
#include "core/Result.h"

#include <string>
#include <string_view>

namespace Pd::Install
{

// The absolute form of a path ("." and ".." resolved); the path itself when Windows cannot tell.
std::wstring FullPath(const std::wstring& path);

// The absolute path in the form Windows opens whatever its length ("\\?\C:\..."); a path already
// in that form or a device path as it is. Every path the checks here open goes through it.
std::wstring LongPathForm(const std::wstring& path);

// Fails naming the first component of path, from folder itself down, that is a link, junction or
// mount point. The walk ends at the first component that does not exist. A path outside folder
// is refused.
Result<> RefuseLinks(const std::wstring& folder, const std::wstring& path);

// Creates path and every missing folder between folder and path, refusing links on the way.
Result<> CreateFoldersBelow(const std::wstring& folder, const std::wstring& path);

// Opens the file at path below folder with CREATE_NEW, OPEN_EXISTING or OPEN_ALWAYS (never a
// truncating disposition: the caller truncates once the handle is known to be the file at
// path). Refused when a component is a link or the handle reached another file; a file this
// call created before refusing is deleted again. The error of the open is "Creating <path>".
Result<UniqueFile> OpenBelow(const std::wstring& folder, const std::wstring& path, DWORD access, DWORD share,
                             DWORD disposition);

// Writes the bytes as the whole content of the file at path below folder (created, or emptied
// first), opened as OpenBelow opens it. A file that cannot be opened or written gives "Cannot create
// <path>."; a link, OpenBelow's text.
Result<> WriteWholeFile(const std::wstring& folder, const std::wstring& path, std::string_view bytes);

// Deletes the file at path below folder through a handle that was checked like OpenBelow's, so
// that the file a link points to is never deleted in its place. A missing file succeeds; the
// error of the open is "Deleting <path>".
Result<> DeleteBelow(const std::wstring& folder, const std::wstring& path);

// Whether the handle still names the file at path below folder, not one reached through a link.
// Where Windows cannot tell where the handle leads, the failure says so ("Checking whether ..."),
// never that a link was found.
Result<> CheckHandleBelow(HANDLE file, const std::wstring& folder, const std::wstring& path);

// CheckHandleBelow for an entry that may itself be a link opened as itself (to be deleted as
// itself): only the way to it must be free of links.
Result<> CheckPlaceBelow(HANDLE entry, const std::wstring& folder, const std::wstring& path);

// Whether the entry's handle names the entry `name` directly in the folder open as `folder`, a
// handle that was checked itself: so a folder swapped for a link after it was opened is caught.
// The entry may be a link opened as itself. path is the entry's path, for the failure's text.
Result<> CheckPlaceIn(HANDLE entry, HANDLE folder, const std::wstring& name, const std::wstring& path);

// The uninstall's own check of the way to a folder (RemoveTree's, from the drive's root), made
// before an install writes there, so that both accept the same folders: Windows' resolved path of
// the folder, or of its deepest part that exists, must equal the drive's resolved path followed by
// the folder's text below the drive. A link, junction or mount point on the way, or a short (8.3)
// name in the text, fails with "<folder> is reached through a link ..."; the folder itself being
// a link, with "<folder> is a link ...". A folder of which nothing exists passes.
Result<> CheckWayFromDrive(const std::wstring& folder);

// The root of the drive, volume or share the path lies on (C:\, \\server\share\), read from
// the text alone; empty when the path names none.
std::wstring DriveRoot(const std::wstring& path);

} // namespace Pd::Install
