#include "host/controls/HostChange.h"

#include "core/HostChanged.h"
#include "host/controls/TrayHooks.h"

namespace Pd::Host
{

void AnnounceHostChange()
{
    Core::SignalHostChanged();
    CallRefreshHook();
}

} // namespace Pd::Host
