// The redirection trust mitigation exists only on Windows 11 22H2 and later (Wine accepts any policy
// without acting on it): what is asked for, and what each answer means, are shown through the seam.
#include "cli/LinkTrust.h"

#include <gtest/gtest.h>

#include <optional>

namespace
{

using Pd::Cli::LinkTrust;

TEST(LinkTrust, AnElevatedProcessEnforcesItAndOnlyARefusalOfAKnownPolicyIsAFailure)
{
    struct Case
    {
        bool elevated;
        DWORD answer;
        LinkTrust trust;
    };
    for (const Case& item : {Case{true, ERROR_SUCCESS, LinkTrust::On},
                             Case{true, ERROR_INVALID_PARAMETER, LinkTrust::NotSupported},
                             Case{true, ERROR_NOT_SUPPORTED, LinkTrust::NotSupported},
                             Case{true, ERROR_ACCESS_DENIED, LinkTrust::Failed},
                             Case{false, ERROR_SUCCESS, LinkTrust::NotElevated}})
    {
        std::optional<PROCESS_MITIGATION_POLICY> asked;
        DWORD flags = 0;
        const LinkTrust trust = Pd::Cli::Detail::TrustOnlyAdministratorsLinksWith(
            item.elevated, [&](PROCESS_MITIGATION_POLICY kind, const void* policy, SIZE_T size) {
                asked = kind;
                EXPECT_EQ(size, sizeof(DWORD));
                flags = *static_cast<const DWORD*>(policy);
                return item.answer;
            });
        EXPECT_EQ(trust, item.trust) << item.answer;
        if (!item.elevated)
        {
            EXPECT_FALSE(asked);
            continue;
        }
        // Policy 16 with only its first flag set: enforce, not merely audit.
        EXPECT_EQ(asked, PROCESS_MITIGATION_POLICY(16));
        EXPECT_EQ(flags, 1u);
    }
    // Under Wine the real call never counts as a failure.
    EXPECT_NE(Pd::Cli::TrustOnlyAdministratorsLinks(), LinkTrust::Failed);
}

} // namespace
