#include "core/HostChanged.h"

#include "core/Handles.h"
#include "core/ObjectSecurity.h"

#include <windows.h>

namespace Pd::Core
{

bool SignalNamedEvent(const wchar_t* name)
{
    UniqueHandle event(::OpenEventW(EVENT_MODIFY_STATE, FALSE, name));
    return event && ::SetEvent(event.Get());
}

UniqueHandle CreateHostChangedEvent()
{
    return CreateSessionEvent(HostChangedEventName, false);
}

} // namespace Pd::Core
