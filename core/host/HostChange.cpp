#include "core/host/HostChange.h"

#include "core/host/TrayHooks.h"
#include "core/HostChanged.h"

namespace Pd::Host
{

void AnnounceHostChange()
{
    Core::SignalHostChanged();
    CallRefreshHook();
}

} // namespace Pd::Host
