// Starting and stopping the background host of the current session, and the executable it
// runs from. Stateless: every call opens the host's named objects anew.
#pragma once

#include "core/Result.h"

#include <string>

namespace Pd::Host
{

// "Peldra.exe" in the default install folder when that file exists, else the running executable.
std::wstring HostExePath();

// Starts "<HostExePath> host --background" detached and without a window unless a host already
// runs. Does not wait for the new host. The error is a finished user-facing text.
Pd::Result<> EnsureRunning();

// Asks a running host to end (its Stop event) and waits up to 10 s for its mutex. Silent: a
// host that is still running afterwards is left running.
void Stop();

// Wakes a running host so that it re-reads its settings. Returns false when no host runs.
bool NotifyHostReload();

} // namespace Pd::Host
