#include "bt/HostSignal.h"

#include "host/controls/HostChange.h"

namespace Pd::Bt
{

void SignalHostChanged() noexcept
{
    Host::AnnounceHostChange();
}

} // namespace Pd::Bt
