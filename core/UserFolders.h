// The per-user known folders the program writes or deletes in: the data folder (Local AppData)
// and the Start menu's Programs. Where they lie comes from HKCU's "User Shell Folders", which
// every program the user runs can change. An elevated process that followed such a value would
// write with administrator rights wherever an unelevated program chose (the all-users Startup
// folder, say). So, elevated (or when the elevation cannot be told), a known folder that is not
// the user's profile folder or below it is refused; the profile folder comes from HKLM's
// ProfileList for the process token's user, never from HKCU or the environment.
#pragma once

#include "core/Result.h"

#include <windows.h>

#include <shlobj.h>

#include <string>
#include <string_view>

namespace Pd::Core
{

// The profile folder of the process token's user; empty when Windows cannot tell.
std::wstring UserProfileFolder();

// The per-user known folder's path (not checked for existence), refused as above with a text
// that names the folder and the registry value that sets it.
Result<std::wstring> UserKnownFolder(const KNOWNFOLDERID& id);

namespace Detail
{
// Whether folder is profile or lies below it. Both are made full and compared without regard to
// case, slash direction or trailing separators; an empty one is never in the other.
bool IsInProfile(const std::wstring& folder, const std::wstring& profile);

// UserKnownFolder's decision for a resolved folder; valueName names the "User Shell Folders"
// value in the refusal.
Result<std::wstring> CheckUserFolderWith(const std::wstring& folder, const std::wstring& profile,
                                         bool elevated, std::wstring_view valueName);
} // namespace Detail

} // namespace Pd::Core
