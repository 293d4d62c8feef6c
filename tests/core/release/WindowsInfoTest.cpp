#include "core/release/WindowsInfo.h"

#include "tests/support/SimScenario.h"

#include <gtest/gtest.h>

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

TEST(WindowsText, NamesWindows11ByItsBuildThoughTheRegistrySays10)
{
    EXPECT_EQ(WindowsText(Info(22631, 4169, L"Windows 10 Pro", L"23H2")),
              L"Windows 11 Pro 23H2 (22631.4169)");
    EXPECT_EQ(WindowsText(Info(22000, 1, L"Windows 10 Home", L"")), L"Windows 11 Home (22000.1)");
}

TEST(WindowsText, KeepsWindows10BelowBuild22000)
{
    EXPECT_EQ(WindowsText(Info(19045, 4170, L"Windows 10 Pro", L"22H2")),
              L"Windows 10 Pro 22H2 (19045.4170)");
    EXPECT_EQ(WindowsText(Info(21999, 0, L"Windows 10 Pro", L"")), L"Windows 10 Pro (21999.0)");
}

TEST(WindowsText, ReplacesOnlyALeading10AndMatchesCase)
{
    EXPECT_EQ(WindowsText(Info(22631, 0, L"windows 10 Pro", L"")), L"windows 10 Pro (22631.0)");
    EXPECT_EQ(WindowsText(Info(22631, 0, L"Microsoft Windows 10", L"")), L"Microsoft Windows 10 (22631.0)");
    EXPECT_EQ(WindowsText(Info(22631, 0, L"Windows 10", L"")), L"Windows 11 (22631.0)");
    EXPECT_EQ(WindowsText(Info(22631, 0, L"Windows 100", L"")), L"Windows 110 (22631.0)");
    EXPECT_EQ(WindowsText(Info(22631, 0, L"Windows Server 2022", L"")), L"Windows Server 2022 (22631.0)");
}

TEST(WindowsText, AnEmptyProductNameReadsWindows)
{
    EXPECT_EQ(WindowsText(Info(22000, 0, L"", L"")), L"Windows (22000.0)");
    EXPECT_EQ(WindowsText(Info(0, 0, L"", L"")), L"Windows (0.0)");
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
