#include "core/ObjectSecurity.h"

#include <sddl.h>

namespace Pd::Core
{
SessionObjectSecurity::SessionObjectSecurity()
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(SessionObjectSddl, SDDL_REVISION_1,
                                                               &descriptor, nullptr))
        descriptor_.Reset(descriptor);
    attributes_.nLength = sizeof(attributes_);
    attributes_.lpSecurityDescriptor = descriptor;
    attributes_.bInheritHandle = FALSE;
}

namespace
{

// Callers read ERROR_ALREADY_EXISTS after creating: the descriptor's release must not change it.
template <typename Create> UniqueHandle CreateKeepingLastError(Create create)
{
    UniqueHandle handle;
    DWORD error = 0;
    {
        SessionObjectSecurity security;
        handle.Reset(create(security.Attributes()));
        error = ::GetLastError();
    }
    ::SetLastError(error);
    return handle;
}

} // namespace

UniqueHandle CreateSessionEvent(const wchar_t* name, bool manualReset)
{
    return CreateKeepingLastError(
        [&](SECURITY_ATTRIBUTES* security) { return ::CreateEventW(security, manualReset, FALSE, name); });
}

UniqueHandle CreateSessionMutex(const wchar_t* name, bool initiallyOwned)
{
    return CreateKeepingLastError(
        [&](SECURITY_ATTRIBUTES* security) { return ::CreateMutexW(security, initiallyOwned, name); });
}

} // namespace Pd::Core
