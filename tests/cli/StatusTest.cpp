#include "cli/Status.h"
#include "core/Text.h"

#include <gtest/gtest.h>

namespace
{

using Pd::Cli::StatusText;

class StatusTest : public ::testing::Test
{
protected:
    StatusTest()
    {
        facts.windows.build = 22631;
        facts.windows.ubr = 4169;
        facts.windows.productName = L"Windows 10 Pro";
        facts.windows.displayVersion = L"23H2";
        facts.windows.virtualMachinePlatform = true;
        facts.windows.developerMode = true;
        facts.installFolder = L"C:\\Program Files\\Peldra";
    }
    bool Shows(const std::wstring& line) const
    {
        return (L"\n" + StatusText(facts)).find(L"\n" + line + L"\n") != std::wstring::npos;
    }

    Pd::Cli::StatusFacts facts;
};

TEST_F(StatusTest, LabelsArePaddedTo26ColumnsInTheirOrder)
{
    facts.windows.installedPackage = Pd::Install::PackageInfo{L"full", L"2.1.0.0", L"C:\\Tovik", true};
    facts.installedVersion = L"2.1.0";
    facts.releaseState = Pd::Core::ReleaseState::Verified;
    facts.hello = Pd::Bio::Availability::NotConfiguredForUser;
    facts.helloRememberMinutes = 5;
    facts.rootForApps = true;

    EXPECT_EQ(StatusText(facts), L"Windows                   Windows 11 Pro 23H2 (22631.4169)\n"
                                 L"Supported                 yes\n"
                                 L"Virtual Machine Platform  yes\n"
                                 L"Developer mode            on\n"
                                 L"Tovik package             2.1.0.0 (C:\\Tovik)\n"
                                 L"Install folder            C:\\Program Files\\Peldra\n"
                                 L"Installed release         2.1.0\n"
                                 L"Release check (host)      official release, unchanged\n"
                                 L"Windows Hello             not configured for this Windows user (set up "
                                 L"Windows Hello PIN/fingerprint in Settings)\n"
                                 L"Remember Windows Hello    for 5 minutes\n"
                                 L"Root for Android apps     on (confirmed with Windows Hello)\n");
}

TEST_F(StatusTest, NothingInstalledOnAnOlderWindows)
{
    facts.windows.build = 21999;
    facts.windows.virtualMachinePlatform.reset();
    facts.releaseState = Pd::Core::ReleaseState::Verified; // the host's check of a removed release
    facts.helloBridgeHolder = L"S-1-5-21-1-2-3-1001";
    const std::wstring held =
        L"Windows Hello bridge      " +
        Pd::Core::FormatText(Pd::TextId::HelloBridgeHeldByOther, L"S-1-5-21-1-2-3-1001");
    for (const wchar_t* line :
         {held.c_str(), L"Supported                 no (Windows 11 required)",
          L"Virtual Machine Platform  unknown", L"Installed release         none",
          L"Release check (host)      Tovik not installed",
          L"Remember Windows Hello    off (Windows Hello asks every time)", L"Root for Android apps     off"})
        EXPECT_TRUE(Shows(line)) << line;
}

TEST_F(StatusTest, TovikPatchIsNamedFromBuild28000AndAStorePackageAndTheLockSaySo)
{
    facts.windows.build = 27999;
    EXPECT_EQ(StatusText(facts).find(L"TovikPatch"), std::wstring::npos);
    facts.windows.build = 28000;
    facts.windows.installedPackage =
        Pd::Install::PackageInfo{L"full", L"1.0.0.0", L"C:\\Store\\Tovik", false};
    facts.helloRememberMinutes = 0xFFFFFFFF;
    EXPECT_TRUE(Shows(L"TovikPatch                needed on this build\n"
                      L"Tovik package             1.0.0.0 (C:\\Store\\Tovik, Microsoft Store)"));
    EXPECT_TRUE(Shows(L"Remember Windows Hello    until Windows is locked"));
}

} // namespace
