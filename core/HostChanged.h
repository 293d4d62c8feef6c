// Tells the main window that the state of the host or a bridge changed.
#pragma once

namespace Pd::Core
{

// Sets the event "Local\Peldra.Host.Changed" when it exists (the main window creates it); without
// a window there is none, and the call does nothing. True when the event was set.
bool SignalHostChanged();

// The same for any named event: opened for modifying its state, set and closed.
bool SignalNamedEvent(const wchar_t* name);

} // namespace Pd::Core
