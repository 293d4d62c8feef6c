// Tells the main window that the state of the host or a bridge changed.
#pragma once

#include "core/Handles.h"

namespace Pd::Core
{

inline constexpr const wchar_t* HostChangedEventName = L"Local\\Peldra.Host.Changed";

// Creates the auto-reset event, not signalled, with the session-object security, so that an
// unelevated host or command line can set it when the window runs elevated. For the main window.
UniqueHandle CreateHostChangedEvent();

// Sets the event "Local\Peldra.Host.Changed" when it exists (the main window creates it); without
// a window there is none, and the call does nothing. True when the event was set.
bool SignalHostChanged();

// The same for any named event: opened for modifying its state, set and closed.
bool SignalNamedEvent(const wchar_t* name);

} // namespace Pd::Core
