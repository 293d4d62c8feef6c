// The program's own installer package, installed into and removed from the test prefix with the
// prefix's own msiexec.
#include "core/release/InstalledMsi.h"

#include "core/Handles.h"
#include "tests/core/release/Msiexec.h"
#include "tests/support/SigningFixtures.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

class InstalledMsi : public PdTest::SigningTest
{
};

TEST_F(InstalledMsi, FoundWhileTheProgramsPackageIsInstalled)
{
    // A package left by an earlier, interrupted run would hide the "not installed" case.
    if (auto left = Pd::Install::FindInstalledMsi())
        PdTest::RunMsiexec(L"/x " + *left);
    EXPECT_EQ(Pd::Install::FindInstalledMsi(), std::nullopt);

    ASSERT_EQ(PdTest::RunMsiexec(L"/i \"" + PdTest::SigningFile(L"program.msi") + L"\""), 0u);
    const auto product = Pd::Install::FindInstalledMsi();
    ASSERT_TRUE(product.has_value());
    EXPECT_EQ(product->size(), 38u);
    EXPECT_TRUE(product->starts_with(L"{") && product->ends_with(L"}"));

    EXPECT_EQ(PdTest::RunMsiexec(L"/x " + *product), 0u);
    EXPECT_EQ(Pd::Install::FindInstalledMsi(), std::nullopt);
}

TEST_F(InstalledMsi, PackagesOfOtherUpgradeCodesAreNotThePrograms)
{
    ASSERT_EQ(PdTest::RunMsiexec(L"/i \"" + PdTest::SigningFile(L"unsigned.msi") + L"\""), 0u);
    EXPECT_EQ(Pd::Install::FindInstalledMsi(), std::nullopt);
    PdTest::RunMsiexec(L"/x \"" + PdTest::SigningFile(L"unsigned.msi") + L"\"");
}

} // namespace
