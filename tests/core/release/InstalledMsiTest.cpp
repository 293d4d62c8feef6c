// The program's own installer package, installed into and removed from the test prefix with the
// prefix's own msiexec.
#include "core/release/InstalledMsi.h"

#include "core/Handles.h"
#include "tests/support/SigningFixtures.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

// Runs "msiexec <arguments> /qn" and returns its exit code.
DWORD RunMsiexec(const std::wstring& arguments)
{
    std::wstring command = L"msiexec.exe " + arguments + L" /qn";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process))
        return ::GetLastError();
    Pd::UniqueHandle thread(process.hThread);
    Pd::UniqueHandle handle(process.hProcess);
    ::WaitForSingleObject(handle.Get(), 120'000);
    DWORD code = 1;
    ::GetExitCodeProcess(handle.Get(), &code);
    return code;
}

class InstalledMsi : public PdTest::SigningTest
{
};

TEST_F(InstalledMsi, FoundWhileTheProgramsPackageIsInstalled)
{
    // A package left by an earlier, interrupted run would hide the "not installed" case.
    if (auto left = Pd::Install::FindInstalledMsi())
        RunMsiexec(L"/x " + *left);
    EXPECT_EQ(Pd::Install::FindInstalledMsi(), std::nullopt);

    ASSERT_EQ(RunMsiexec(L"/i \"" + PdTest::SigningFile(L"program.msi") + L"\""), 0u);
    const auto product = Pd::Install::FindInstalledMsi();
    ASSERT_TRUE(product.has_value());
    EXPECT_EQ(product->size(), 38u);
    EXPECT_TRUE(product->starts_with(L"{") && product->ends_with(L"}"));

    EXPECT_EQ(RunMsiexec(L"/x " + *product), 0u);
    EXPECT_EQ(Pd::Install::FindInstalledMsi(), std::nullopt);
}

TEST_F(InstalledMsi, PackagesOfOtherUpgradeCodesAreNotThePrograms)
{
    ASSERT_EQ(RunMsiexec(L"/i \"" + PdTest::SigningFile(L"unsigned.msi") + L"\""), 0u);
    EXPECT_EQ(Pd::Install::FindInstalledMsi(), std::nullopt);
    RunMsiexec(L"/x \"" + PdTest::SigningFile(L"unsigned.msi") + L"\"");
}

} // namespace
