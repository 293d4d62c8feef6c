#include "cli/Status.h"

#include <gtest/gtest.h>

namespace
{

using Pd::Cli::StatusFacts;
using Pd::Cli::StatusText;
using Pd::Core::ReleaseState;

StatusFacts Windows11()
{
    StatusFacts facts;
    facts.windows.build = 22631;
    facts.windows.ubr = 4169;
    facts.windows.productName = L"Windows 10 Pro";
    facts.windows.displayVersion = L"23H2";
    facts.windows.virtualMachinePlatform = true;
    facts.windows.developerMode = true;
    facts.installFolder = L"C:\\Program Files\\Peldra";
    return facts;
}

TEST(StatusTest, LabelsArePaddedTo26ColumnsInTheirOrder)
{
    StatusFacts facts = Windows11();
    facts.windows.installedPackage = Pd::Install::PackageInfo{L"full", L"2.1.0.0", L"C:\\Tovik", true};
    facts.installedVersion = L"2.1.0";
    facts.releaseState = ReleaseState::Verified;
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
                                 L"Remember Windows Hello    for 5 minutes\n"
                                 L"Root for Android apps     on (confirmed with Windows Hello)\n");
}

TEST(StatusTest, NothingInstalledOnAnOlderWindows)
{
    StatusFacts facts = Windows11();
    facts.windows.build = 21999;
    facts.windows.virtualMachinePlatform.reset();
    facts.windows.developerMode = false;
    std::wstring text = StatusText(facts);

    EXPECT_NE(text.find(L"\nSupported                 no (Windows 11 required)\n"), std::wstring::npos);
    EXPECT_NE(text.find(L"\nVirtual Machine Platform  unknown\n"), std::wstring::npos);
    EXPECT_NE(text.find(L"\nDeveloper mode            off\n"), std::wstring::npos);
    EXPECT_NE(text.find(L"\nTovik package             not registered\n"), std::wstring::npos);
    EXPECT_NE(text.find(L"\nInstalled release         none\n"), std::wstring::npos);
    EXPECT_NE(text.find(L"\nRoot for Android apps     off\n"), std::wstring::npos);
    EXPECT_EQ(text.find(L"TovikPatch"), std::wstring::npos);
}

TEST(StatusTest, TovikPatchIsNamedFromBuild28000)
{
    StatusFacts facts = Windows11();
    facts.windows.build = 27999;
    EXPECT_EQ(StatusText(facts).find(L"TovikPatch"), std::wstring::npos);
    facts.windows.build = 28000;
    EXPECT_NE(StatusText(facts).find(L"\nTovikPatch                needed on this build\nTovik package"),
              std::wstring::npos);
}

TEST(StatusTest, AStorePackageSaysSo)
{
    StatusFacts facts = Windows11();
    facts.windows.installedPackage =
        Pd::Install::PackageInfo{L"full", L"1.0.0.0", L"C:\\Store\\Tovik", false};
    EXPECT_NE(
        StatusText(facts).find(L"Tovik package             1.0.0.0 (C:\\Store\\Tovik, Microsoft Store)\n"),
        std::wstring::npos);
}

} // namespace
