// Tells the main window that the state of the host or a bridge changed.
#pragma once

#include "core/Handles.h"

namespace Pd::Core
{

inline constexpr const wchar_t* HostChangedEventName = L"Local\\Peldra.Host.Changed";

// Creates the auto-reset event, not signalled, with the session-object security, so that an
// unelevated host or command line can set it when the window runs elevated. For the main window.
UniqueHandle CreateHostChangedEvent();

// Sets a named event when it exists: opened for modifying its state, set and closed. True when
// the event was set. The host's change signal is Host::SignalHostChanged (core/host/HostChange.h).
bool SignalNamedEvent(const wchar_t* name);

} // namespace Pd::Core
