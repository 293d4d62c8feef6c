#include "cli/LinkTrust.h"

#include "core/Elevation.h"
#include "core/Log.h"

#include <string>

namespace Pd::Cli
{

namespace Detail
{

LinkTrust TrustOnlyAdministratorsLinksWith(bool elevated, const SetMitigation& set)
{
    if (!elevated)
        return LinkTrust::NotElevated;
    PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY policy{};
    policy.EnforceRedirectionTrust = 1;
    switch (set(ProcessRedirectionTrustPolicy, &policy, sizeof(policy)))
    {
    case ERROR_SUCCESS:
        return LinkTrust::On;
    // Windows before 11 22H2 does not know the policy; Wine does not implement mitigations.
    case ERROR_INVALID_PARAMETER:
    case ERROR_NOT_SUPPORTED:
    case ERROR_CALL_NOT_IMPLEMENTED:
        return LinkTrust::NotSupported;
    default:
        return LinkTrust::Failed;
    }
}

} // namespace Detail

LinkTrust TrustOnlyAdministratorsLinks()
{
    DWORD error = ERROR_SUCCESS;
    const LinkTrust trust = Detail::TrustOnlyAdministratorsLinksWith(
        Core::IsElevated(), [&error](PROCESS_MITIGATION_POLICY kind, const void* policy, SIZE_T size) {
            error = ::SetProcessMitigationPolicy(kind, const_cast<void*>(policy), size) ? ERROR_SUCCESS
                                                                                        : ::GetLastError();
            return error;
        });
    if (trust == LinkTrust::Failed)
        Core::Log("links made without administrator rights stay followed: Windows refused the mitigation "
                  "(code " +
                  std::to_string(error) + ")");
    return trust;
}

} // namespace Pd::Cli
