#include "core/release/PackageDeployment.h"

#include "core/release/Packages.h"
#include "core/Strings.h"
#include "platform/PackageManager.h"
#include "tests/core/release/DeveloperMode.h"
#include "tests/core/release/LoopbackServer.h"
#include "tests/core/ScratchFolder.h"
#include "tests/support/SimScenario.h"

#include <gtest/gtest.h>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include <algorithm>

namespace
{

using Pd::Install::Dependency;
using Pd::Install::PackageVersionValue;
using PdTest::ScratchFolder;

constexpr const char* TovikPublisher = "CN=Ormel Test";

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
<Package><Identity Name="{}" Publisher="{}" Version="{}" ProcessorArchitecture="x64"/>
<Dependencies>{}</Dependencies></Package>
)",
                       name, TovikPublisher, version, dependencies);
}

std::string InstalledPackage(std::string_view name, std::string_view version,
                             std::string_view architecture = "x64")
{
    return fmt::format(R"({{"name":"{}","publisherId":"maker","version":"{}","architecture":"{}",
        "installLocation":"C:\\Program Files\\WindowsApps\\{}","users":["current"]}})",
                       name, version, architecture, name);
}

std::string Scenario(std::initializer_list<std::string> packages, std::string_view extra = "")
{
    std::string list;
    for (const std::string& package : packages)
        list += (list.empty() ? "" : ",") + package;
    return fmt::format(R"({{"publisherIds":{{"{}":"tv9kp7a3nqe2r"}},"packages":[{}]{}}})", TovikPublisher,
                       list, extra);
}

// The versions of a package name that the current account has, by architecture.
std::vector<std::wstring> Installed(std::wstring_view name)
{
    std::vector<std::wstring> found;
    for (const auto& package : Pd::Platform::Packages()->FindPackagesForCurrentUser().packages)
        if (package.name == name)
            found.push_back(fmt::format(L"{}.{}.{}.{} {}", package.version.major, package.version.minor,
                                        package.version.build, package.version.revision,
                                        package.architecture));
    return found;
}

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

TEST(ReadPackageDependencies, FindsNameThenMinVersionInDocumentOrder)
{
    ScratchFolder folder;
    auto manifest = folder.Write(
        L"AppxManifest.xml",
        Dependencies({{"First", "1.0"}, {"Second", "2.0.1"}}) +
            R"(<PackageDependency MinVersion="3.0" Name="Reversed"/><PackageDependency Name="Third" MinVersion="3"/>)");
    EXPECT_EQ(Pd::Install::ReadPackageDependencies(manifest.wstring()),
              (std::vector<Dependency>{{L"First", L"1.0"}, {L"Second", L"2.0.1"}, {L"Third", L"3"}}));
    EXPECT_TRUE(Pd::Install::ReadPackageDependencies((folder.Path() / L"missing.xml").wstring()).empty());
}

TEST(InstallDependencies, AnInstalledVersionAtTheMinimumOrHigherIsKept)
{
    Pd::Test::SimScenario scenario(
        Scenario({InstalledPackage("Runtime", "14.0.0.0"), InstalledPackage("Ui", "1.0.0.0"),
                  InstalledPackage("Ui", "3.0.0.0")}));
    Release release(Dependencies({{"Runtime", "14.0"}, {"Ui", "2.0"}}));
    ASSERT_TRUE(Pd::Install::InstallDependencies(release.Path(), release.Log()));
    EXPECT_EQ(release.log,
              (std::vector<std::wstring>{L"Runtime 14.0.0.0 is installed.", L"Ui 3.0.0.0 is installed."}));
}

TEST(InstallDependencies, ALowerVersionOrAnotherArchitectureIsAddedFromTheRelease)
{
    Pd::Test::SimScenario scenario(
        Scenario({InstalledPackage("Runtime", "13.0.0.0"), InstalledPackage("Ui", "9.0.0.0", "x86")}));
    Release release(Dependencies({{"Runtime", "14.0"}, {"Ui", "2.0"}}));
    release.Ship("Runtime", "14.0.1.0");
    release.Ship("Ui", "2.0.0.0");
    ASSERT_TRUE(Pd::Install::InstallDependencies(release.Path(), release.Log()));
    EXPECT_EQ(release.log, (std::vector<std::wstring>{L"Installing Runtime 14.0.", L"Installing Ui 2.0."}));
    EXPECT_EQ(Installed(L"Runtime"), std::vector<std::wstring>{L"14.0.1.0 x64"})
        << "the added one replaces 13.0";
    auto ui = Installed(L"Ui");
    std::ranges::sort(ui);
    EXPECT_EQ(ui, (std::vector<std::wstring>{L"2.0.0.0 x64", L"9.0.0.0 x86"}));
}

TEST(InstallDependencies, AMissingPackageFileEndsWithTheFirstMissingDependency)
{
    Pd::Test::SimScenario scenario(Scenario({}));
    Release release(Dependencies({{"Present", "1.0"}, {"Absent", "1.5"}, {"Later", "1.0"}}));
    release.Ship("Present", "1.0.0.0");
    release.Ship("Later", "1.0.0.0");
    auto result = Pd::Install::InstallDependencies(release.Path(), release.Log());
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), L"The package Absent 1.5 is needed but not part of the release.");
    EXPECT_EQ(Installed(L"Present").size(), 1u) << "what came before stays installed";
    EXPECT_TRUE(Installed(L"Later").empty()) << "nothing after the missing one is looked at";
}

TEST(InstallDependencies, NamesThatWouldReachOutsideTheReleaseFolderAreRefused)
{
    Pd::Test::SimScenario scenario(Scenario({}));
    for (const char* name : {"..\\Outside", "../Outside", "sub\\Inner", "CON", "..", "Bad:Stream"})
    {
        Release release(Dependencies({{name, "1.0"}}));
        // A package file the unsafe name would reach, were it used as a path.
        std::filesystem::create_directories(release.folder.Path() / L"sub");
        PdTest::WriteBytes(release.folder.Path().parent_path() / L"Outside_x64.appx",
                           AppxManifest("Outside", "1.0.0.0"));
        PdTest::WriteBytes(release.folder.Path() / L"sub" / L"Inner_x64.appx",
                           AppxManifest("Inner", "1.0.0.0"));
        auto result = Pd::Install::InstallDependencies(release.Path(), release.Log());
        std::filesystem::remove(release.folder.Path().parent_path() / L"Outside_x64.appx");
        ASSERT_FALSE(result) << name;
        EXPECT_EQ(result.error(), fmt::format(L"The package {} 1.0 is needed but not part of the release.",
                                              Pd::Core::FromUtf8(name)));
        EXPECT_TRUE(Installed(L"Outside").empty() && Installed(L"Inner").empty()) << name;
    }
}

TEST(InstallDependencies, AFailedAddNamesTheDependencyAndEndsWithTheCode)
{
    Pd::Test::SimScenario scenario(Scenario({}, R"(,"deploymentFailures":{"add":"0x80073CF9"})"));
    Release release(Dependencies({{"Runtime", "14.0"}}));
    release.Ship("Runtime", "14.0.0.0");
    auto result = Pd::Install::InstallDependencies(release.Path(), release.Log());
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), L"Runtime: The simulated add operation failed (0x80073CF9)");
}

TEST(RegisterPackage, AFailureNamesTheStepAndEndsWithTheCode)
{
    PdTest::DeveloperModeSetting developerMode(false);
    Pd::Test::SimScenario scenario(Scenario({}));
    Release release;
    auto result = Pd::Install::RegisterPackage(release.Path(), {});
    ASSERT_FALSE(result);
    EXPECT_TRUE(result.error().starts_with(L"Registering the Tovik package: "))
        << Pd::Core::ToUtf8(result.error());
    EXPECT_TRUE(result.error().ends_with(L" (0x80073CFF)")) << Pd::Core::ToUtf8(result.error());
    EXPECT_FALSE(Pd::Install::FindInstalledPackage());
}

TEST(RegisterPackage, WithoutAPackageManagerTheStepSaysSo)
{
    Release release;
    auto result = Pd::Install::RegisterPackage(release.Path(), {});
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(),
              L"Registering the Tovik package: The package manager is not available (0x80040154)");
    auto removed = Pd::Install::RemovePackage(L"TovikPackage_1.0.0.0_x64__tv9kp7a3nqe2r", true);
    ASSERT_FALSE(removed);
    EXPECT_TRUE(removed.error().starts_with(L"Removing the Tovik package: "));
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
