#include "platform/Account.h"

#include "core/Elevation.h"

namespace Pd::Platform
{

std::wstring ProcessUserSid()
{
    return Core::ProcessUserSid();
}

} // namespace Pd::Platform
