#include "core/host/HostChange.h"

#include "core/HostChanged.h"
#include "core/host/TrayHooks.h"

namespace Pd::Host
{

void AnnounceHostChange()
{
    Core::SignalHostChanged();
    CallRefreshHook();
}

} // namespace Pd::Host
