// The install run on a simulated Windows 11 PC, from a signed test release on the loopback server.
#include "core/release/InstallRun.h"

#include "core/release/InstallState.h"
#include "core/release/Packages.h"
#include "core/Settings.h"
#include "platform/PackageManager.h"
#include "platform/sim/Simulation.h"
#include "tests/core/release/InstallFixture.h"

#include <gtest/gtest.h>

#include <fmt/format.h>
#include <fmt/xchar.h>

namespace
{

using PdTest::InstallTest;
using PdTest::JsonText;
namespace fs = std::filesystem;
using Pd::Level;

constexpr const char* Stranger = "S-1-5-21-1111111111-2222222222-3333333333-1001";
constexpr const char* RunningVm =
    R"(, "computeSystems": [{"id": "2B1B9D9E-0A4C-4D3B-9E8F-7A6B5C4D3E2F", "owner": "TovikAndroid"}])";

std::string Tovik(const std::wstring& location, std::string_view users, std::string_view extra = "")
{
    return fmt::format(R"({{"name": "TovikPackage", "publisherId": "tv9kp7a3nqe2r", "version": "2.0.0.0",
        "installLocation": "{}", "users": [{}]{}}})",
                       JsonText(location), users, extra);
}

std::string Packages(const std::string& package)
{
    return R"(, "packages": [)" + package + "]";
}

using InstallRoad = InstallTest;

TEST_F(InstallRoad, InstallsRecordsAndRegistersThenFindsNothingToDownloadThenFetchesOnlyWhatChanged)
{
    Pc(Scenario());
    const Pd::Core::Manifest manifest = Load();
    auto outcome = Install(manifest, Options());
    ASSERT_TRUE(outcome) << Pd::Core::ToUtf8(outcome.error());
    EXPECT_FALSE(outcome->restartNeeded);
    EXPECT_EQ(outcome->componentsUpdated, 3);

    // The files, the records and the release's proof.
    EXPECT_EQ(PdTest::ReadBytes(folder_ / L"tools" / L"kernel"), "kernel 1\n");
    EXPECT_TRUE(fs::exists(folder_ / L"assets" / L"logo.txt"));
    EXPECT_EQ(PdTest::ReadBytes(folder_ / L"release.json"), manifest.manifestBytes);
    EXPECT_EQ(PdTest::ReadBytes(folder_ / L"release.cat"), manifest.catalogBytes);
    const Pd::Core::InstallState state = Pd::Core::ReadState(folder_.wstring());
    EXPECT_EQ(state.version, L"3.0.0");
    EXPECT_EQ(state.source, ManifestUrl());
    using Names = std::vector<std::wstring>;
    EXPECT_EQ(state.entries.at(L"system"), Names{L"system.vhdx"});
    EXPECT_EQ(state.entries.at(L"kernel"), Names{L"tools"});
    EXPECT_EQ(state.entries.at(L"app"), (Names{L"AppxManifest.xml", L"Tovik.Runtime_x64.appx", L"assets"}));
    EXPECT_EQ(state.entries.at(L"release"), (Names{L"release.json", L"release.cat"}));
    for (const auto& component : manifest.components)
        EXPECT_EQ(state.components.at(component.id), component.packedSha256);
    EXPECT_FALSE(fs::exists(folder_ / L".download")) << "downloads go once recorded";
    EXPECT_TRUE(Temporaries().empty());

    // Windows knows the package, its dependency and its first settings.
    auto package = Pd::Install::FindInstalledPackage();
    ASSERT_TRUE(package);
    EXPECT_EQ(package->installLocation, folder_.wstring());
    EXPECT_TRUE(package->developmentMode);
    auto seeded =
        Pd::Platform::Packages()->HasSettingValue(Pd::Install::TovikFamilyName, L"DeveloperModeEnabled");
    EXPECT_TRUE(seeded && *seeded);
    EXPECT_TRUE(Logged(L"Installing Tovik.Runtime 1.0.", Level::Info));
    EXPECT_TRUE(Logged(L"Registering " + (folder_ / L"AppxManifest.xml").wstring(), Level::Info));
    EXPECT_TRUE(Logged(L"Peldra 3.0.0 is registered.", Level::Success));

    // The program copy with its host, and the shortcut.
    EXPECT_EQ(PdTest::ReadBytes(fs::path(program_.defaultFolder) / L"Peldra.exe"), "the running program");
    EXPECT_EQ(hostCalls_, (std::vector<std::wstring>{L"register task", L"stop host", L"start host"}));
    EXPECT_EQ(Pd::Install::FindTovikSettingsShortcuts().size(), 1u);
    EXPECT_TRUE(Logged(L"Android's settings are in the Start menu: Android Settings", Level::Info));
    EXPECT_TRUE(questions_.empty()) << "developer mode and Virtual Machine Platform were on";
    ASSERT_FALSE(progress_.empty());
    EXPECT_EQ(progress_.back().stage, L"Done");
    EXPECT_EQ(progress_.back().position, 1000);

    // The same release again: nothing to fetch, the registration runs again.
    auto again = Install(Load(), Options());
    ASSERT_TRUE(again) << Pd::Core::ToUtf8(again.error());
    EXPECT_EQ(again->componentsUpdated, 0);
    EXPECT_TRUE(Logged(L"Release 3.0.0 is installed; nothing to download.", Level::Info));
    for (const wchar_t* file : {L"system.zst", L"kernel.zst", L"app.zst"})
        EXPECT_EQ(Requests(L"road", file), 1u) << Pd::Core::ToUtf8(file);
    EXPECT_TRUE(Logged(L"Peldra 3.0.0 is registered.", Level::Success));

    // An update that changed one component fetches that one only.
    Serve(L"road-update");
    auto update = Install(Load(L"road-update"), Options());
    ASSERT_TRUE(update) << Pd::Core::ToUtf8(update.error());
    EXPECT_EQ(update->componentsUpdated, 1);
    EXPECT_EQ(Requests(L"road-update", L"kernel.zst"), 1u);
    EXPECT_EQ(Requests(L"road-update", L"system.zst"), 0u);
    EXPECT_EQ(Requests(L"road-update", L"app.zst"), 0u);
    EXPECT_EQ(PdTest::ReadBytes(folder_ / L"tools" / L"kernel"), "kernel 2\n");
    EXPECT_EQ(Pd::Core::ReadState(folder_.wstring()).version, L"3.1.0");
}

TEST_F(InstallRoad, KeepDownloadsLeavesTheDownloadedFiles)
{
    Pc(Scenario());
    ASSERT_TRUE(Install(Load(), Options(true, true)));
    for (const wchar_t* file : {L"system.zst", L"kernel.zst", L"app.zst"})
        EXPECT_TRUE(fs::exists(folder_ / L".download" / file)) << Pd::Core::ToUtf8(file);
}

TEST_F(InstallRoad, WithoutRegisteringItStopsOnceTheReleaseFilesAreInPlace)
{
    PdTest::DeveloperModeSetting off(false);
    Pc(Scenario("", R"("build": 22631, "virtualMachinePlatform": false)"));
    auto outcome = Install(Load(), Options(false));
    ASSERT_TRUE(outcome) << Pd::Core::ToUtf8(outcome.error());
    EXPECT_EQ(outcome->componentsUpdated, 3);
    EXPECT_TRUE(fs::exists(folder_ / L"release.cat"));
    EXPECT_EQ(progress_.back().stage, L"Done");
    EXPECT_EQ(progress_.back().position, 1000);
    EXPECT_TRUE(questions_.empty());
    EXPECT_FALSE(PdTest::DeveloperModeSetting::On());
    EXPECT_FALSE(Pd::Install::FindInstalledPackage());
    EXPECT_TRUE(hostCalls_.empty());
    EXPECT_FALSE(fs::exists(fs::path(program_.defaultFolder) / L"Peldra.exe"));
}

using InstallChecks = InstallTest;

TEST_F(InstallChecks, AReleaseForANewerProgramIsRefusedUnlessTheMinimumIsMet)
{
    Pc(Scenario());
    Pd::Core::Manifest manifest = Load();
    manifest.app = Pd::Core::AppInfo{L"0.2.0", L"", 0, L"", L"0.1.3"};
    auto refused = Install(manifest, Options(false));
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), L"Release 3.0.0 needs Peldra 0.1.3 or newer: update Peldra first.");
    EXPECT_FALSE(fs::exists(folder_));
    for (const wchar_t* minimum : {L"0.1.2", L""})
    {
        manifest.app->minimum = minimum;
        EXPECT_TRUE(Install(manifest, Options(false))) << Pd::Core::ToUtf8(minimum);
    }
}

TEST_F(InstallChecks, WindowsBelowElevenOrBelowTheReleasesMinimumIsRefused)
{
    Pd::Core::Manifest manifest;
    {
        Pc(Scenario("", R"("build": 21999)"));
        manifest = Load();
        auto refused = Install(manifest, Options());
        ASSERT_FALSE(refused);
        EXPECT_EQ(refused.error(),
                  L"Windows build 21999 is too old (at least 22000 - Windows 11 - is required).");
        EXPECT_TRUE(Logged(L"Windows: Windows (21999.0)", Level::Info));
    }
    Pc(Scenario("", R"("build": 26000)"));
    manifest.minWindowsBuild = 26100;
    auto refused = Install(manifest, Options());
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(),
              L"Windows build 26000 is too old (at least 26100 - Windows 11 - is required).");
    EXPECT_FALSE(fs::exists(folder_));
}

TEST_F(InstallChecks, AnUnsignedManifestEndsTheRunBeforeAnythingIsFetched)
{
    Pc(Scenario());
    Pd::Core::Manifest manifest = Load();
    manifest.isSigned = false;
    auto refused = Install(manifest, Options());
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), ManifestUrl() +
                                   L" is not an official Peldra release (no valid publisher signature). "
                                   L"This Peldra installs official releases only.");
    EXPECT_EQ(Requests(L"road", L"system.zst"), 0u);
    EXPECT_FALSE(fs::exists(folder_));
}

TEST_F(InstallChecks, TooLittleFreeSpaceIsRefusedWithWhatIsNeeded)
{
    Pc(Scenario());
    Pd::Core::Manifest manifest = Load();
    manifest.components[0].size = 1ull << 60;
    auto refused = Install(manifest, Options());
    ASSERT_FALSE(refused);
    EXPECT_TRUE(refused.error().starts_with(L"Not enough free space: 1073741824"))
        << Pd::Core::ToUtf8(refused.error());
    EXPECT_EQ(Requests(L"road", L"system.zst"), 0u);
}

TEST_F(InstallChecks, AnotherAccountsTovikFromAnotherFolderIsRefused)
{
    Pc(Scenario(Packages(Tovik(L"D:\\Elsewhere", fmt::format(R"("{}")", Stranger)))));
    auto refused = Install(Load(), Options());
    ASSERT_FALSE(refused);
    EXPECT_TRUE(refused.error().starts_with(fmt::format(
        L"Tovik is registered for the Windows user {} from D:\\Elsewhere.", Pd::Core::FromUtf8(Stranger))))
        << Pd::Core::ToUtf8(refused.error());
    EXPECT_EQ(Requests(L"road", L"system.zst"), 0u);
}

TEST_F(InstallChecks, AnotherAccountsTovikFromThisFolderIsRefusedWhileAndroidRuns)
{
    fs::create_directories(folder_);
    Pc(Scenario(Packages(Tovik(folder_.wstring(), fmt::format(R"("{}")", Stranger))) + RunningVm));
    auto refused = Install(Load(), Options());
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(),
              fmt::format(L"Tovik is running for the Windows user {}. Close it on that account "
                          L"(Tovik Settings, Turn off) and install again.",
                          Pd::Core::FromUtf8(Stranger)));
}

TEST_F(InstallChecks, AnotherAccountsTovikFromThisFolderIsUpdatedForThatAccountWithoutRegistering)
{
    PdTest::DeveloperModeSetting off(false);
    fs::create_directories(folder_);
    Pc(Scenario(Packages(Tovik(folder_.wstring(), fmt::format(R"("{}")", Stranger)))));
    auto outcome = Install(Load(), Options());
    ASSERT_TRUE(outcome) << Pd::Core::ToUtf8(outcome.error());
    const std::wstring account = Pd::Core::FromUtf8(Stranger);
    EXPECT_TRUE(
        Logged(fmt::format(L"Tovik is registered for the Windows user {} from this folder: this installation "
                           L"updates it for that user.",
                           account),
               Level::Info));
    EXPECT_TRUE(
        Logged(fmt::format(L"Peldra 3.0.0 installed for the Windows user {}. Tovik stays registered for that "
                           L"user only: Windows lets one user at a time register an unpacked package.",
                           account),
               Level::Success));
    EXPECT_EQ(Pd::Core::ReadState(folder_.wstring()).version, L"3.0.0");
    EXPECT_TRUE(questions_.empty());
    EXPECT_FALSE(Pd::Install::FindInstalledPackage()) << "not registered for this account";
    EXPECT_TRUE(fs::exists(fs::path(program_.defaultFolder) / L"Peldra.exe"));
    EXPECT_TRUE(hostCalls_.empty()) << "no task and no host for another account's Tovik";
}

using InstallQuestions = InstallTest;

TEST_F(InstallQuestions, DecliningDeveloperModeCancelsWithTheFilesRecordedAndNothingSwitchedOn)
{
    PdTest::DeveloperModeSetting off(false);
    Pc(Scenario());
    answer_ = false;
    auto outcome = Install(Load(), Options());
    ASSERT_FALSE(outcome);
    EXPECT_EQ(outcome.error(), L"Canceled.");
    EXPECT_EQ(questions_,
              std::vector<std::wstring>{L"Windows registers an unpacked app only in developer mode. "
                                        L"Turn developer mode on?"});
    EXPECT_FALSE(PdTest::DeveloperModeSetting::On());
    EXPECT_FALSE(PdTest::UserValues::Text(L"EnabledDeveloperMode"));
    EXPECT_FALSE(Pd::Install::FindInstalledPackage());
    EXPECT_EQ(Pd::Core::ReadState(folder_.wstring()).version, L"3.0.0") << "the switched files are recorded";
}

TEST_F(InstallQuestions, AcceptedFeaturesAreSwitchedOnAndRemembered)
{
    PdTest::DeveloperModeSetting off(false);
    Pc(Scenario("", R"("build": 22631, "virtualMachinePlatform": false, "dismExitCode": 3010)"));
    auto outcome = Install(Load(), Options());
    ASSERT_TRUE(outcome) << Pd::Core::ToUtf8(outcome.error());
    EXPECT_TRUE(outcome->restartNeeded);
    EXPECT_EQ(questions_.size(), 2u);
    EXPECT_TRUE(PdTest::DeveloperModeSetting::On());
    DWORD value = 0;
    DWORD size = sizeof(value);
    for (const wchar_t* name : {L"EnabledDeveloperMode", L"EnabledVirtualMachinePlatform"})
    {
        EXPECT_EQ(::RegGetValueW(HKEY_CURRENT_USER, Pd::Core::SettingsKey, name, RRF_RT_REG_DWORD, nullptr,
                                 &value, &size),
                  ERROR_SUCCESS);
        EXPECT_EQ(value, 1u);
    }
    EXPECT_TRUE(Logged(L"Developer mode turned on.", Level::Success));
}

TEST_F(InstallQuestions, DecliningVirtualMachinePlatformLeavesItOffAndUnremembered)
{
    Pc(Scenario("", R"("build": 22631, "virtualMachinePlatform": false)"));
    answer_ = false;
    auto outcome = Install(Load(), Options());
    ASSERT_FALSE(outcome);
    EXPECT_EQ(outcome.error(), L"Canceled.");
    EXPECT_FALSE(PdTest::UserValues::Text(L"EnabledVirtualMachinePlatform"));
    EXPECT_EQ(Pd::Platform::Sim::StateStore(pc_->Folder()).Read().Member(L"dismRuns").Items().size(), 0u);
    EXPECT_FALSE(Pd::Install::FindInstalledPackage());
}

TEST_F(InstallQuestions, AStoreTovikIsReplacedWithItsDataKeptOnlyAfterAsking)
{
    Pc(Scenario(Packages(Tovik(L"C:\\Program Files\\WindowsApps\\Tovik", R"("current")")) +
                R"(, "appSettings": {"TovikPackage_tv9kp7a3nqe2r": {"DeveloperModeEnabled": true}})"));
    auto outcome = Install(Load(), Options());
    ASSERT_TRUE(outcome) << Pd::Core::ToUtf8(outcome.error());
    EXPECT_EQ(questions_,
              std::vector<std::wstring>{L"Tovik 2.0.0.0 from the Microsoft Store is installed. It will be "
                                        L"replaced by Peldra; your Android apps and their data stay. "
                                        L"Continue?"});
    EXPECT_TRUE(Logged(L"Tovik from the Microsoft Store removed (Android data kept).", Level::Info));
    EXPECT_EQ(Pd::Install::FindInstalledPackage()->installLocation, folder_.wstring());
    const auto settings = Pd::Platform::Sim::StateStore(pc_->Folder())
                              .Read()
                              .Member(L"appSettings")
                              .Member(Pd::Install::TovikFamilyName);
    EXPECT_EQ(settings.Member(L"DeveloperModeEnabled").AsBool(), true) << "the app data stayed";
}

using InstallRegistration = InstallTest;

TEST_F(InstallRegistration, AnOldFolderRegistrationThatWindowsKeepsIsRemovedAndRegisteredAgain)
{
    Pc(Scenario(Packages(
        Tovik(L"D:\\Old", R"("current")", R"(, "developmentMode": true, "keepsRegistration": true)"))));
    auto outcome = Install(Load(), Options());
    ASSERT_TRUE(outcome) << Pd::Core::ToUtf8(outcome.error());
    EXPECT_TRUE(Logged(L"Replaces the Tovik registered from D:\\Old (Android data kept).", Level::Info));
    bool retried = false;
    for (const auto& line : log_)
        retried |=
            line.level == Level::Warning && line.text.starts_with(L"Windows kept the old registration (");
    EXPECT_TRUE(retried);
    EXPECT_EQ(Pd::Install::FindInstalledPackage()->installLocation, folder_.wstring());
}

TEST_F(InstallRegistration, AFailureForThisFolderIsNotRetried)
{
    Pc(Scenario(R"(, "deploymentFailures": {"register": "0x80073CF6"})"));
    auto outcome = Install(Load(), Options());
    ASSERT_FALSE(outcome);
    EXPECT_EQ(outcome.error(),
              L"Registering the Tovik package: The simulated register operation failed (0x80073CF6)");
    for (const auto& line : log_)
        EXPECT_FALSE(line.text.starts_with(L"Windows kept the old registration"));
}

TEST_F(InstallRegistration, OnBuild28000OrLaterTheRunAsksForThePatch)
{
    Pc(Scenario("", R"("build": 28000)"));
    ASSERT_TRUE(Install(Load(), Options()));
    EXPECT_TRUE(
        Logged(L"Windows build 28000 refuses Tovik without TovikPatch; run TovikPatch.exe from the install "
               L"folder.",
               Level::Warning));
}

} // namespace

namespace
{

using InstallCancellation = PdTest::InstallTest;

TEST_F(InstallCancellation, AStopBetweenDownloadAndUnpackKeepsTheDownloadsAndStagesNothing)
{
    Pc(Scenario());
    std::stop_source stop;
    onLog_ = [&](const std::wstring& line) {
        if (line == L"app files: SHA-256 verified.")
            stop.request_stop();
    };
    auto outcome = Install(Load(), Options(), stop.get_token());
    ASSERT_FALSE(outcome);
    EXPECT_EQ(outcome.error(), L"Canceled.");
    for (const wchar_t* file : {L"system.zst", L"kernel.zst", L"app.zst"})
        EXPECT_TRUE(fs::exists(folder_ / L".download" / file)) << Pd::Core::ToUtf8(file);
    EXPECT_TRUE(Temporaries().empty());
    EXPECT_FALSE(fs::exists(folder_ / L"peldra.json"));
}

TEST_F(InstallCancellation, AStopInsideATransferEndsWithTheTransfersTextAndKeepsThePartialFile)
{
    Pc(Scenario());
    served_.Rule(L"road/system.zst", R"({"stallAfter": 65536, "stallMs": 2000})");
    std::stop_source stop;
    onProgress_ = [&](const Pd::Core::Progress& progress) {
        if (progress.stage == L"Downloading system.vhdx" && progress.bytesDone > 0)
            stop.request_stop();
    };
    auto outcome = Install(Load(), Options(), stop.get_token());
    ASSERT_FALSE(outcome);
    EXPECT_EQ(outcome.error(), L"system.vhdx: Canceled.");
    const fs::path partial = folder_ / L".download" / L"system.zst";
    ASSERT_TRUE(fs::exists(partial));
    EXPECT_GT(fs::file_size(partial), 0u);
    EXPECT_FALSE(fs::exists(folder_ / L".download" / L"kernel.zst")) << "no later download starts";
}

TEST_F(InstallCancellation, AStopWhileUnpackingLeavesNoStagedFileBehind)
{
    Pc(Scenario());
    std::stop_source stop;
    onProgress_ = [&](const Pd::Core::Progress& progress) {
        if (progress.stage.starts_with(L"Unpacking"))
            stop.request_stop();
    };
    auto outcome = Install(Load(), Options(), stop.get_token());
    ASSERT_FALSE(outcome);
    EXPECT_TRUE(outcome.error() == L"Canceled." || outcome.error().ends_with(L": Canceled."))
        << Pd::Core::ToUtf8(outcome.error());
    EXPECT_TRUE(Temporaries().empty());
    EXPECT_FALSE(fs::exists(folder_ / L"system.vhdx"));
    EXPECT_FALSE(fs::exists(folder_ / L"peldra.json"));
}

} // namespace
