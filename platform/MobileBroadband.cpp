#include "platform/MobileBroadband.h"

#include "platform/RealServices.h"

namespace Pd::Platform
{

Outcome<std::shared_ptr<MbnInterfaceManager>> Real::MobileBroadband()
{
    return Failure(REGDB_E_CLASSNOTREG, L"Mobile Broadband is not available");
}

} // namespace Pd::Platform
