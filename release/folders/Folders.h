// Questions about folders and files on disk: whether a folder lies inside Program Files, how much
// room its volume has, and whether two paths name the same file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Pd::Core
{

// The lexical relative path from base to path ("." for the same path); empty when the two are not
// comparable (other root names, one absolute and one not). A "\\?\X:" prefix on both is dropped.
std::wstring RelativePath(const std::wstring& path, const std::wstring& base);

// Whether the folder lies below the Program Files folder (Program Files itself does not). Letter
// case, "." and ".." elements and a trailing separator do not matter.
bool IsUnderProgramFiles(const std::wstring& folder);

// Bytes free to the calling user on the volume of the folder or of its nearest existing parent;
// all bits set when that cannot be determined, so that a free-space check passes.
std::uint64_t FreeSpace(const std::wstring& folder);

// Whether something exists at the path (a file, a folder or a link; false for an empty path).
bool PathExists(const std::wstring& path);

// Whether the path names a folder (a link to one counts).
bool IsFolder(const std::wstring& path);

// Whether the path names a folder that is not a link or other reparse point.
bool IsRealFolder(const std::wstring& path);

// Whether both paths can be opened and report the same volume serial number and file id.
bool SameFile(const std::wstring& a, const std::wstring& b);

// The path of an entry in a folder, with one backslash between them also when the folder is a
// root that already ends with one ("C:\\").
std::wstring JoinPath(const std::wstring& folder, const std::wstring& name);

// Whether the path names the root of a volume: a drive ("C:\\"), a share or a mount point.
bool IsVolumeRoot(const std::wstring& path);

// The Windows system folder (System32); empty when Windows does not tell it.
std::wstring SystemFolder();

// Whether the folder is a drive or share root, or one of Windows' own folders (Windows, Program
// Files, ProgramData, the users' profiles, the user's profile, desktop, documents, downloads,
// application data, Start menu) or a folder above one of them: no program's own install folder.
bool IsSystemFolder(const std::wstring& folder);

// The paths of those Windows folders (an empty entry for one that cannot be resolved).
std::vector<std::wstring> SystemFolders();

// The same, split by where Windows keeps them: the machine's (only administrators change them)
// and the user's own (the user's registry names them, so any program of the user can move them).
std::vector<std::wstring> MachineSystemFolders();
std::vector<std::wstring> PerUserSystemFolders();

namespace Detail
{
// IsUnderProgramFiles with the Program Files folder given.
bool IsUnderFolder(const std::wstring& folder, const std::wstring& programFiles);

// IsSystemFolder with Windows' folders given.
bool IsSystemFolderAmong(const std::wstring& folder, const std::vector<std::wstring>& systemFolders);
} // namespace Detail

} // namespace Pd::Core
