// Starting and stopping the background host of the current session, and the executable it
// runs from. Stateless: every call opens the host's named objects anew.
#pragma once

#include "core/Result.h"

#include <windows.h>

#include <string>

namespace Pd::Host
{

enum class HostPresence
{
    None,        // no host runs in this session
    Running,     // a host runs and this process can reach its objects
    Unreachable, // a host runs, but its objects refuse this process (created with other rights)
};

HostPresence FindHost();

// The error of every control that finds the host Unreachable.
std::wstring UnreachableHostText();

// "Peldra.exe" in the default install folder (which only administrators can change): the only
// program the host is ever started from.
std::wstring InstalledHostExePath();

// Whether InstalledHostExePath names a file.
bool HostInstalled();

// Starts "<InstalledHostExePath> host --background" detached and without a window unless a host
// already runs. Waits (bounded) only until the new host holds its mutex. The error is a finished
// user-facing text; a host that runs but refuses this process is an error, never a reason to
// start another. Without an installed copy nothing is started and the error says so: never this
// program's own file, which may lie in a folder any program of the user can change. A process
// without administrator rights starts the host only through its logon task (ScheduledTask.h), so
// that the host runs with the rights the task gives it, never with this process's own.
Pd::Result<> EnsureRunning();

// Asks a running host to end (its Stop event) and waits up to 10 s for its mutex. Silent: a
// host that is still running afterwards is left running.
void Stop();

// Wakes a running host so that it re-reads its settings. Returns false when no host runs or it
// cannot be reached.
bool NotifyHostReload();

namespace Detail
{
// How the controls open the host's mutex: a test puts a stand-in here to play a host whose
// objects refuse this process (Wine enforces no integrity levels).
inline decltype(&::OpenMutexW) OpenHostMutexFunction = &::OpenMutexW;
// Whether EnsureRunning may start the copy itself: a test plays an unelevated caller here (under
// Wine every process is elevated).
inline bool (*IsElevatedFunction)() = nullptr; // null: Core::IsElevated
} // namespace Detail

} // namespace Pd::Host
