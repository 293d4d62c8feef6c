// Paths of the shell's known folders.
#pragma once

#include <windows.h>

#include <shlobj.h>

#include <string>

namespace Pd::Install
{

// The known folder's path (SHGetKnownFolderPath, by default without checking that it exists);
// empty when it cannot be resolved. Unchecked: for telling which folders to protect. A per-user
// folder that is written or deleted in comes from Core::UserKnownFolder.
std::wstring KnownFolderPath(const KNOWNFOLDERID& id, DWORD flags = KF_FLAG_DONT_VERIFY);

} // namespace Pd::Install
