// Announcing a change of host or bridge state to whoever shows it: the main window (through
// its Host.Changed event) and the notification-area icon (through its refresh hook).
#pragma once

namespace Pd::Host
{

// Sets "Local\Peldra.Host.Changed" when a window created it, then calls the tray's refresh
// hook when an icon is up. Never fails; callable from any thread.
void AnnounceHostChange();

} // namespace Pd::Host
