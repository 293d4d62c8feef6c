// What can be an install folder, and the one form every command gives it. A typed folder is read
// the way Windows reads it (forward slashes, doubled separators, "." and ".." elements, trailing
// blanks and dots of the last element), so that install, verify, status, uninstall and the window
// agree on the same folder. Refused at once, before anything is written: relative paths (they
// would depend on the folder a command happens to start in), network shares and device paths,
// device names and names Windows cannot create, and Windows' own folders. Never a folder, even of
// an install made before: the pipe and mailslot shares, and shares of this PC itself.
#pragma once

#include "core/Result.h"
#include "release/manifest/Manifest.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace Pd::Install
{

// The typed folder in its one normal form ("\\?\C:\x" becomes "C:\x", "C:\PROGRA~1\x" becomes
// "C:\Program Files\x"), or the reason it cannot be an install folder, naming what is wrong. For
// installs and updates.
Result<std::wstring> InstallFolderFromText(std::wstring_view typed);

// The folder of an install already made, read the same way but refused only when it cannot name a
// folder on a drive of this PC or a network share ("\\server\share\x"): where an install may go is
// a rule for creating and writing one, while removing, checking or showing one made before the
// rules is always allowed.
Result<std::wstring> InstalledFolderFromText(std::wstring_view typed);

// A refusal of an install folder, and when the folder already holds an install (made before the
// rule that now refuses it), what to do: uninstall there and install into another folder.
std::wstring HowToGoOn(const std::wstring& refusal, const std::wstring& folder);

// Before a release is downloaded into a folder in normal form: its drive exists, it is a folder
// (or can be created) and can be written, and the release's paths fit the path length Windows
// allows this program. Leaves nothing behind.
Result<> CheckInstallFolderUsable(const std::wstring& folder, const Core::Manifest& manifest);

namespace Detail
{

// Windows' own folders, as the known-folder API reports them.
struct WindowsFolders
{
    std::wstring windows;              // refused with every folder below it
    std::wstring users;                // the profiles: every folder directly in it is refused
    std::vector<std::wstring> owned;   // refused, as is every folder above one of them
    std::vector<std::wstring> pcNames; // this PC's own names: no share on them is an install folder
    // The user's own folders (Documents, the profile, ...), refused like `owned`, except one that
    // is the default install folder or lies in it: the user's registry names them, and any program
    // of the user could otherwise have that user's default install refused.
    std::vector<std::wstring> perUser;
    std::wstring defaultFolder;
};

WindowsFolders CurrentWindowsFolders();

// InstalledFolderFromText: the normal form, without the rules on where an install may go, with
// this PC's own names given.
Result<std::wstring> NormalFolderForm(std::wstring_view typed, const std::vector<std::wstring>& pcNames);

// InstallFolderFromText with Windows' folders given.
Result<std::wstring> NormalInstallFolder(std::wstring_view typed, const WindowsFolders& windows);

// Fails naming the first of the release's paths in the folder (the folder itself, its download
// and record files, each component's file or folder) longer than the limit for files or folders.
Result<> CheckPathLengths(const std::wstring& folder, const Core::Manifest& manifest, std::size_t fileLimit,
                          std::size_t folderLimit);

} // namespace Detail

} // namespace Pd::Install
