#include "core/host/HostChange.h"

#include "core/host/TrayHooks.h"
#include "core/ObjectSecurity.h"

namespace Pd::Host
{

UniqueHandle CreateHostChangedEvent()
{
    return Core::CreateSessionEvent(HostChangedEventName, false);
}

void SignalHostChanged() noexcept
{
    Core::SignalNamedEvent(HostChangedEventName);
    CallRefreshHook();
}

} // namespace Pd::Host
