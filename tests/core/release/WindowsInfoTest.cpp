#include "core/release/WindowsInfo.h"

#include "tests/support/SimScenario.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>

namespace
{

using Pd::Core::WindowsInfo;
using Pd::Core::WindowsText;

WindowsInfo Info(std::uint32_t build, std::uint32_t ubr, std::wstring product, std::wstring display)
{
    WindowsInfo info;
    info.build = build;
    info.ubr = ubr;
    info.productName = std::move(product);
    info.displayVersion = std::move(display);
    return info;
}

TEST(WindowsText, ComposesNameDisplayVersionBuildAndRevision)
{
    struct Case
    {
        std::uint32_t build, ubr;
        const wchar_t* product;
        const wchar_t* display;
        const wchar_t* text;
    };
    for (const Case& c : {
             // Windows 11 still names itself "Windows 10" in the registry: the build decides.
             Case{22631, 4169, L"Windows 10 Pro", L"23H2", L"Windows 11 Pro 23H2 (22631.4169)"},
             Case{22000, 1, L"Windows 10 Home", L"", L"Windows 11 Home (22000.1)"},
             Case{22631, 0, L"Windows 10", L"", L"Windows 11 (22631.0)"},
             Case{19045, 4170, L"Windows 10 Pro", L"22H2", L"Windows 10 Pro 22H2 (19045.4170)"},
             Case{21999, 0, L"Windows 10 Pro", L"", L"Windows 10 Pro (21999.0)"},
             // Only a leading "Windows 10", matched with its case.
             Case{22631, 0, L"windows 10 Pro", L"", L"windows 10 Pro (22631.0)"},
             Case{22631, 0, L"Microsoft Windows 10", L"", L"Microsoft Windows 10 (22631.0)"},
             Case{22631, 0, L"Windows 100", L"", L"Windows 110 (22631.0)"},
             // No product name at all.
             Case{22000, 0, L"", L"", L"Windows (22000.0)"},
             Case{0, 0, L"", L"", L"Windows (0.0)"},
         })
        EXPECT_EQ(WindowsText(Info(c.build, c.ubr, c.product, c.display)), c.text)
            << std::string(c.product, c.product + std::wcslen(c.product)) << " " << c.build;
}

TEST(QueryWindows, GathersTheSimulatedPcAndTheCurrentAccountsPackage)
{
    Pd::Test::SimScenario scenario(R"({
        "windows":{"build":22631,"ubr":4169,"productName":"Windows 10 Pro","displayVersion":"23H2",
                   "virtualMachinePlatform":true},
        "packages":[{"name":"TovikPackage","publisherId":"tv9kp7a3nqe2r","version":"2.1.0.7",
                     "installLocation":"C:\\Tovik","developmentMode":true,"users":["current","S-1-5-21-9-9-9-1001"]}]})");
    WindowsInfo info = Pd::Core::QueryWindows();
    EXPECT_EQ(info.build, 22631u);
    EXPECT_EQ(info.ubr, 4169u);
    EXPECT_EQ(info.virtualMachinePlatform, true);
    ASSERT_TRUE(info.installedPackage);
    EXPECT_EQ(info.installedPackage->version, L"2.1.0.7");
    EXPECT_FALSE(info.packageUser) << "not asked when this account has the package";
    EXPECT_EQ(WindowsText(info), L"Windows 11 Pro 23H2 (22631.4169)");
}

TEST(QueryWindows, NamesTheOtherAccountOnlyWhenThisOneHasNoPackage)
{
    Pd::Test::SimScenario scenario(R"({"packages":[{"name":"TovikPackage","publisherId":"tv9kp7a3nqe2r",
        "installLocation":"C:\\Users\\other\\Tovik","users":["S-1-5-21-9-9-9-1001"]}]})");
    WindowsInfo info = Pd::Core::QueryWindows();
    EXPECT_FALSE(info.installedPackage);
    ASSERT_TRUE(info.packageUser);
    EXPECT_EQ(info.packageUser->installLocation, L"C:\\Users\\other\\Tovik");
    EXPECT_FALSE(info.virtualMachinePlatform) << "the scenario leaves it open";
}

TEST(QueryWindows, UnderWineWithoutSimulationTheFeatureStateAndPackageAreAbsent)
{
    WindowsInfo info = Pd::Core::QueryWindows();
    EXPECT_GT(info.build, 0u);
    EXPECT_LT(info.build, 22000u) << "Wine reports no Windows 11 build";
    EXPECT_FALSE(info.virtualMachinePlatform) << "Wine's WMI lists no optional features: absent, not false";
    EXPECT_FALSE(info.installedPackage);
    EXPECT_FALSE(info.packageUser);
}

} // namespace
