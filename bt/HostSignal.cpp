#include "bt/HostSignal.h"

#include "core/host/HostChange.h"

namespace Pd::Bt
{

void SignalHostChanged() noexcept
{
    Host::AnnounceHostChange();
}

} // namespace Pd::Bt
