#include "core/host/HostChange.h"

#include "core/host/TrayHooks.h"
#include "core/HostChanged.h"

namespace Pd::Host
{

void SignalHostChanged() noexcept
{
    Core::SignalNamedEvent(Core::HostChangedEventName);
    CallRefreshHook();
}

} // namespace Pd::Host
