// Dependencies, registration and removal of the Tovik package through the simulated package
// manager, which keeps the deployments and the apps' settings in its state.
#include "release/windows/PackageDeployment.h"

#include "core/ErrorText.h"
#include "core/Strings.h"
#include "platform/PackageManager.h"
#include "release/windows/Packages.h"
#include "tests/core/ScratchFolder.h"
#include "tests/release/Helpers.h"
#include "tests/release/LoopbackServer.h"
#include "tests/release/UserValues.h"
#include "tests/support/SimScenario.h"

#include <gtest/gtest.h>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include <algorithm>

namespace
{

using Pd::Install::PackageVersionValue;
using PdTest::ScratchFolder;

std::string Dependencies(std::initializer_list<std::pair<const char*, const char*>> dependencies)
{
    std::string text;
    for (const auto& [name, minVersion] : dependencies)
        text += fmt::format(R"(<PackageDependency Name="{}" MinVersion="{}" Publisher="CN=Maker"/>)", name,
                            minVersion);
    return text;
}

std::string AppxManifest(std::string_view name, std::string_view version, std::string_view dependencies = "")
{
    return fmt::format(R"(<?xml version="1.0" encoding="utf-8"?>
<Package><Identity Name="{}" Publisher="CN=Ormel Test" Version="{}" ProcessorArchitecture="x64"/>
<Dependencies>{}</Dependencies></Package>
)",
                       name, version, dependencies);
}

std::string Installed(std::string_view name, std::string_view version, std::string_view architecture = "x64")
{
    return fmt::format(R"({{"name":"{}","publisherId":"maker","version":"{}","architecture":"{}",
        "installLocation":"C:\\Program Files\\WindowsApps\\{}","users":["current"]}})",
                       name, version, architecture, name);
}

// A simulated PC with these packages whose Tovik packages get Tovik's family.
std::string Scenario(std::initializer_list<std::string> packages, std::string_view extra = "")
{
    std::string list;
    for (const std::string& package : packages)
        list += (list.empty() ? "" : ",") + package;
    return fmt::format(R"({{"publisherIds":{{"CN=Ormel Test":"tv9kp7a3nqe2r"}},"packages":[{}]{}}})", list,
                       extra);
}

// The versions of a package name that the current account has, by architecture, sorted.
std::vector<std::wstring> VersionsOf(std::wstring_view name)
{
    std::vector<std::wstring> found;
    for (const auto& package : Pd::Platform::Packages()->FindPackagesForCurrentUser().packages)
        if (package.name == name)
            found.push_back(fmt::format(L"{}.{}.{}.{} {}", package.version.major, package.version.minor,
                                        package.version.build, package.version.revision,
                                        package.architecture));
    std::ranges::sort(found);
    return found;
}

// A release folder with Tovik's AppxManifest.xml and the dependencies it ships.
struct Release
{
    ScratchFolder folder;
    std::vector<std::wstring> log;

    explicit Release(std::string_view dependencies = "")
    {
        folder.Write(L"AppxManifest.xml", AppxManifest("TovikPackage", "2.0.0.0", dependencies));
    }
    std::wstring Path() const { return folder.Path().wstring(); }
    Pd::Core::LogText Log()
    {
        return [this](const std::wstring& line) { log.push_back(line); };
    }
    void Ship(const char* name, const char* version)
    {
        folder.Write(Pd::Core::FromUtf8(name) + L"_x64.appx", AppxManifest(name, version));
    }
    Pd::Result<> InstallDependencies() { return Pd::Install::InstallDependencies(Path(), Log()); }
};

TEST(PackageVersionValue, ReadsUpToFourNumericPartsAndPadsTheRest)
{
    struct Case
    {
        const wchar_t* text;
        std::uint64_t value;
    };
    const Case cases[] = {
        {L"1.8", 0x0001000800000000},          {L"1.8.0.0", 0x0001000800000000},
        {L"2.3-beta", 0x0002000300000000},     {L"1.2.3.4.5", 0x0001000200030004},
        {L"65536.1", 0x0000000100000000},      {L"", 0},
        {L"14.0.33519.0", 0x000E000082EF0000},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PackageVersionValue(c.text), c.value) << Pd::Core::ToUtf8(c.text);
    EXPECT_GT(PackageVersionValue(L"10.0"), PackageVersionValue(L"9.65535.65535.65535"));
}

// The manifest comes with the release: names of any length cost one pass, never the stack.
TEST(ReadPackageDependencies, ReadsEveryDependencyWithBothAttributesInOnePass)
{
    ScratchFolder folder;
    const std::string huge(1 << 20, 'n');
    folder.Write(L"AppxManifest.xml",
                 AppxManifest("TovikPackage", "1.0.0.0",
                              R"(<PackageDependency MinVersion="2.0" Name="Reversed"/>)"
                              R"(<PackageDependency Name="NoVersion"/>)" +
                                  Dependencies({{"Runtime", "14.0"}, {huge.c_str(), "1.0"}})));
    const auto dependencies =
        Pd::Install::ReadPackageDependencies((folder.Path() / L"AppxManifest.xml").wstring());
    ASSERT_EQ(dependencies.size(), 3u);
    EXPECT_EQ(dependencies[0], (Pd::Install::Dependency{L"Reversed", L"2.0"}));
    EXPECT_EQ(dependencies[1], (Pd::Install::Dependency{L"Runtime", L"14.0"}));
    EXPECT_EQ(dependencies[2].name.size(), huge.size());
}

TEST(InstallDependencies, AnX64VersionAtTheMinimumIsKeptAndOtherwiseTheReleasesPackageIsAdded)
{
    Pd::Test::SimScenario scenario(
        Scenario({Installed("Runtime", "14.0.0.0"), Installed("Ui", "1.0.0.0"), Installed("Ui", "3.0.0.0"),
                  Installed("Old", "13.0.0.0"), Installed("Arm", "9.0.0.0", "x86")}));
    Release release(Dependencies({{"Runtime", "14.0"}, {"Ui", "2.0"}, {"Old", "14.0"}, {"Arm", "2.0"}}));
    release.Ship("Old", "14.0.1.0");
    release.Ship("Arm", "2.0.0.0");
    ASSERT_TRUE(release.InstallDependencies());
    EXPECT_EQ(release.log,
              (std::vector<std::wstring>{L"Runtime 14.0.0.0 is installed.", L"Ui 3.0.0.0 is installed.",
                                         L"Installing Old 14.0.", L"Installing Arm 2.0."}));
    EXPECT_EQ(VersionsOf(L"Old"), std::vector<std::wstring>{L"14.0.1.0 x64"})
        << "the added one replaces 13.0";
    EXPECT_EQ(VersionsOf(L"Arm"), (std::vector<std::wstring>{L"2.0.0.0 x64", L"9.0.0.0 x86"}));
}

TEST(InstallDependencies, AMissingPackageFileEndsWithTheFirstMissingDependency)
{
    Pd::Test::SimScenario scenario(Scenario({}));
    Release release(Dependencies({{"Present", "1.0"}, {"Absent", "1.5"}, {"Later", "1.0"}}));
    release.Ship("Present", "1.0.0.0");
    release.Ship("Later", "1.0.0.0");
    EXPECT_EQ(PdTest::ErrorOf(release.InstallDependencies()),
              L"The package Absent 1.5 is needed but not part of the release.");
    EXPECT_EQ(VersionsOf(L"Present").size(), 1u) << "what came before stays installed";
    EXPECT_TRUE(VersionsOf(L"Later").empty()) << "nothing after the missing one is looked at";
}

TEST(InstallDependencies, NamesThatWouldReachOutsideTheReleaseFolderAreRefused)
{
    Pd::Test::SimScenario scenario(Scenario({}));
    for (const char* name : {"..\\Outside", "../Outside", "sub\\Inner", "CON", "..", "Bad:Stream"})
    {
        Release release(Dependencies({{name, "1.0"}}));
        // A package file the unsafe name would reach, were it used as a path.
        const auto outside = release.folder.Path().parent_path() / L"Outside_x64.appx";
        PdTest::WriteBytes(outside, AppxManifest("Outside", "1.0.0.0"));
        PdTest::WriteBytes(release.folder.Path() / L"sub" / L"Inner_x64.appx",
                           AppxManifest("Inner", "1.0.0.0"));
        auto result = release.InstallDependencies();
        std::filesystem::remove(outside);
        EXPECT_EQ(PdTest::ErrorOf(result),
                  fmt::format(L"The package {} 1.0 is needed but not part of the release.",
                              Pd::Core::FromUtf8(name)));
        EXPECT_TRUE(VersionsOf(L"Outside").empty() && VersionsOf(L"Inner").empty()) << name;
    }
}

// A failed deployment names its step (a dependency by its name) and gives the deployment's own
// text before Windows' text for the code, which ends it.
TEST(PackageDeployments, AFailureNamesTheStepAndGivesTheDeploymentsOwnText)
{
    {
        Pd::Test::SimScenario scenario(Scenario({}, R"(,"deploymentFailures":{"add":"0x80073CF9"})"));
        Release release(Dependencies({{"Runtime", "14.0"}}));
        release.Ship("Runtime", "14.0.0.0");
        EXPECT_EQ(
            PdTest::ErrorOf(release.InstallDependencies()),
            Pd::Core::ErrorText(L"Runtime: The simulated add operation failed. Windows says", 0x80073CF9));
    }
    {
        // The simulated package manager refuses a development registration without developer mode.
        PdTest::DeveloperModeSetting developerMode(false);
        Pd::Test::SimScenario scenario(Scenario({}));
        EXPECT_EQ(PdTest::ErrorOf(Pd::Install::RegisterPackage(Release().Path(), {})),
                  Pd::Core::ErrorText(L"Registering the Tovik package: Registering an unpacked package needs "
                                      L"developer mode. Windows says",
                                      0x80073CFF));
        EXPECT_FALSE(Pd::Install::FindInstalledPackage());
    }
    // Without a package manager (this build has no Windows Runtime binding) each step says so.
    // The message is Windows' own for the code, in the user's language, not the platform's English.
    EXPECT_EQ(PdTest::ErrorOf(Pd::Install::RegisterPackage(Release().Path(), {})),
              Pd::Core::ErrorText(L"Registering the Tovik package", 0x80040154));
    EXPECT_TRUE(PdTest::ErrorOf(Pd::Install::RemovePackage(L"TovikPackage_1.0.0.0_x64__tv9kp7a3nqe2r", true))
                    .starts_with(L"Removing the Tovik package: "));
}

TEST(RemovePackage, KeepingTheDataLeavesItForTheNextRegistration)
{
    PdTest::DeveloperModeSetting developerMode(true);
    for (bool keepData : {true, false})
    {
        Pd::Test::SimScenario scenario(
            Scenario({}, R"(,"appSettings":{"TovikPackage_tv9kp7a3nqe2r":{"DeveloperModeEnabled":true}})"));
        Release release;
        ASSERT_TRUE(Pd::Install::RegisterPackage(release.Path(), {}));
        auto package = Pd::Install::FindInstalledPackage();
        ASSERT_TRUE(package);
        ASSERT_TRUE(Pd::Install::RemovePackage(package->fullName, keepData));
        EXPECT_FALSE(Pd::Install::FindInstalledPackage());
        ASSERT_TRUE(Pd::Install::RegisterPackage(release.Path(), {}));
        auto kept =
            Pd::Platform::Packages()->HasSettingValue(Pd::Install::TovikFamilyName, L"DeveloperModeEnabled");
        ASSERT_TRUE(kept);
        EXPECT_EQ(*kept, keepData);
    }
}

} // namespace
