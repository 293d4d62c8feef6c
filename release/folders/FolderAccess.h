// Who may change an install folder. An install folder outside Program Files that other users can
// write to would let them plant links or replace files for the next elevated install: a folder
// the install creates there gets an access list like Program Files', and an existing one that
// users other than administrators can change is refused.
#pragma once

#include "core/Handles.h"
#include "core/Result.h"

#include <string>
#include <vector>

namespace Pd::Install
{

// Makes sure the install folder may take a release: a drive root, a link in the folder's place or
// on the way to it from the drive (CheckWayFromDrive, the uninstall's own check) and an existing
// folder outside Program Files that others can change are refused; a missing
// folder is created, outside Program Files with the protected access list below. When given,
// created receives the folders this call created, the install folder first, then upwards.
Result<> PrepareInstallFolder(const std::wstring& folder, std::vector<std::wstring>* created = nullptr);

namespace Detail
{
// The protected access list of a folder the install creates outside Program Files, inherited by
// everything in it: Administrators and SYSTEM full control, Users read and execute.
UniqueLocal InstallFolderDescriptor();

// The first account, by name, other than Administrators, SYSTEM, TrustedInstaller, CREATOR OWNER
// and `administrator` (the elevated caller; may be null) that owns the folder or may write,
// append, delete or change permissions in it according to the descriptor; empty when none.
std::wstring OutsideWriter(PSECURITY_DESCRIPTOR descriptor, PSID administrator);
} // namespace Detail

} // namespace Pd::Install
