#include "bt/HostSignal.h"

#include "core/HostChanged.h"

namespace Pd::Bt
{

void SignalHostChanged() noexcept
{
    // The event exists only while a main window runs; without one there is nobody to tell.
    Core::SignalHostChanged();
    // GAP: call the tray's refresh hook (Pd::Host::TrayHooks) here once the host controls
    // provide it; until then only the window hears of the change.
}

} // namespace Pd::Bt
