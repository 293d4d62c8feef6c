// Administrator rights: the elevation test, and starting something with the user's normal rights
// from an elevated process.
#pragma once

#include <windows.h>

#include <string>

namespace Pd::Core
{

enum class Elevation
{
    NotElevated,
    Elevated,
    Unknown, // the token could not be queried
};

// What the token says of its elevation.
Elevation ElevationOf(HANDLE token);

// True only when the process token is known to be elevated: for the work that needs
// administrator rights, which an unknown answer refuses.
bool IsElevated();

// False only when the process token is known not to be elevated: for whatever would act with the
// process's own rights in place of the user's, which an unknown answer must not allow.
bool MayBeElevated();

// The process token's user as a SID text ("S-1-5-21-..."); empty on any failure.
std::wstring ProcessUserSid();

// Asks the desktop's shell to open a program (with its arguments, in the folder when given),
// file, folder or address, so that it runs with the rights of the desktop shell instead of this
// process's administrator rights. Enters a single-threaded COM apartment on the calling thread
// itself. False when the shell did not take the request (no desktop shell window, for one).
bool ShellExecuteUnelevated(const wchar_t* target, const wchar_t* arguments = nullptr,
                            const wchar_t* folder = nullptr);

} // namespace Pd::Core
