#include "host/hello/BridgeHolder.h"

#include "core/Elevation.h"
#include "core/Handles.h"
#include "core/ObjectSecurity.h"

#include <windows.h>

namespace Pd::Bio::Hello
{

std::optional<std::wstring> ForeignBridgeHolder()
{
    UniqueHandle mutex(::OpenMutexW(READ_CONTROL | SYNCHRONIZE, FALSE, InstanceMutexName));
    if (mutex)
        return Core::ForeignOwner(mutex.Get(), false);
    if (::GetLastError() != ERROR_ACCESS_DENIED)
        return std::nullopt; // nobody holds the name
    // Peldra's own grants administrators everything: one that keeps them out is another's.
    if (Core::IsElevated())
        return std::wstring(L"unknown");
    return std::nullopt;
}

} // namespace Pd::Bio::Hello
