// Who may change an install folder. An install folder that other users can write to, or rename
// and replace, would let them plant links, files or lists of names for the next elevated run: a
// folder the install creates gets Administrators as its owner (outside Program Files also an
// access list like Program Files'), and an existing one that the check of release/folders/
// FolderTrust.h does not pass is refused, in Program Files as anywhere else.
#pragma once

#include "core/Handles.h"
#include "core/Result.h"

#include <string>
#include <vector>

namespace Pd::Install
{

// Makes sure the install folder may take a release: a drive root, a link in the folder's place or
// on the way to it from the drive (CheckWayFromDrive, the uninstall's own check) and a folder that
// others can change, rename or delete are refused; a missing folder is created with the
// descriptor below. When given,
// created receives the folders this call created, the install folder first, then upwards.
Result<> PrepareInstallFolder(const std::wstring& folder, std::vector<std::wstring>* created = nullptr);

namespace Detail
{
// The descriptor of a folder the install creates: owned by Administrators; outside Program Files
// with a protected access list, inherited by everything in it: Administrators and SYSTEM full
// control, Users read and execute. In Program Files the access list is inherited from it.
UniqueLocal InstallFolderDescriptor(bool underProgramFiles = false);

// The first account, by name, other than Administrators, SYSTEM, TrustedInstaller, CREATOR OWNER
// and `administrator` (may be null) that owns the folder or may write, append, delete or change
// permissions in it according to the descriptor; empty when none.
std::wstring OutsideWriter(PSECURITY_DESCRIPTOR descriptor, PSID administrator);
} // namespace Detail

} // namespace Pd::Install
