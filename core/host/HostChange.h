// The one signal that the host's or a bridge's state changed, for whoever shows it: the main
// window (through its Host.Changed event) and the notification-area icon (through its refresh
// hook).
#pragma once

namespace Pd::Host
{

// Sets "Local\Peldra.Host.Changed" when a window created it, then calls the tray's refresh
// hook when an icon is up. Never fails; callable from any thread.
void SignalHostChanged() noexcept;

} // namespace Pd::Host
