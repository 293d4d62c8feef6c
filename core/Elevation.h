// Administrator rights: the elevation test, and starting something with the user's normal rights
// from an elevated process.
#pragma once

namespace Pd::Core
{

// True when the process token is elevated; any failure counts as not elevated.
bool IsElevated();

// Asks the desktop's shell to open a program or address, so that it runs with the rights of the
// desktop shell instead of this process's administrator rights. Enters a single-threaded COM
// apartment on the calling thread itself. False when the shell did not take the request (no
// desktop shell window, for one); callers then fall back to an ordinary shell execution.
bool ShellExecuteUnelevated(const wchar_t* target);

} // namespace Pd::Core
