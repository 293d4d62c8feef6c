#include "bt/HostSignal.h"

#include "core/Handles.h"

namespace Pd::Bt
{

void SignalHostChanged() noexcept
{
    // The event exists only while a main window runs; without one there is nobody to tell.
    UniqueHandle changed(::OpenEventW(EVENT_MODIFY_STATE, FALSE, L"Local\\Peldra.Host.Changed"));
    if (changed)
        ::SetEvent(changed.Get());
    // GAP: call the tray's refresh hook (Pd::Host::TrayHooks) here once the host controls
    // provide it; until then only the window hears of the change.
}

} // namespace Pd::Bt
