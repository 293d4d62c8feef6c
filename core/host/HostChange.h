// The one signal that the host's or a bridge's state changed, for whoever shows it: the main
// window (through its Host.Changed event) and the notification-area icon (through its refresh
// hook).
#pragma once

#include "core/Handles.h"

namespace Pd::Host
{

inline constexpr const wchar_t* HostChangedEventName = L"Local\\Peldra.Host.Changed";

// Creates the auto-reset event, not signalled, with the session-object security, so that an
// unelevated host or command line can set it when the window runs elevated. For the main window.
UniqueHandle CreateHostChangedEvent();

// Sets the window's event when a window created it, then calls the tray's refresh hook when an
// icon is up. Never fails; callable from any thread.
void SignalHostChanged() noexcept;

} // namespace Pd::Host
