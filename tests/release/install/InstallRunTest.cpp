// The install run on a simulated Windows 11 PC, from a signed test release on the loopback server:
// the road, the checks before anything is fetched, the questions, the registration, cancellation,
// and a run killed part-way in a process of its own (ReleaseDriver.exe) and then run again.
#include "release/install/InstallRun.h"

#include "platform/PackageManager.h"
#include "platform/sim/Simulation.h"
#include "release/base/InstallState.h"
#include "release/base/MachineRecords.h"
#include "release/windows/Packages.h"
#include "tests/release/InstallFixture.h"
#include "tests/support/HangLimit.h"
#include "tests/support/UnixPath.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>

namespace
{

using PdTest::InstallTest;
using PdTest::PackagesMember;
using PdTest::TovikPackage;
namespace fs = std::filesystem;
using Pd::Level;

const std::wstring Stranger = Pd::Core::FromUtf8(PdTest::Stranger);

using InstallRoad = InstallTest;

TEST_F(InstallRoad, InstallsRecordsAndRegistersThenFindsNothingToDownload)
{
    Pc();
    const Pd::Core::Manifest manifest = Load();
    auto outcome = Install(manifest, Options());
    ASSERT_TRUE(outcome) << Pd::Core::ToUtf8(outcome.error());
    EXPECT_FALSE(outcome->restartNeeded);
    EXPECT_EQ(outcome->componentsUpdated, 3);

    // The files, the records and the release's proof.
    EXPECT_EQ(PdTest::ReadBytes(folder_ / L"tools" / L"kernel"), "kernel 1\n");
    EXPECT_EQ(PdTest::ReadBytes(folder_ / L"release.json"), manifest.manifestBytes);
    EXPECT_EQ(PdTest::ReadBytes(folder_ / L"release.cat"), manifest.catalogBytes);
    const Pd::Core::InstallState state = Pd::Core::ReadState(PdTest::InFolder(folder_));
    EXPECT_EQ(state.version, L"3.0.0");
    EXPECT_EQ(state.source, ManifestUrl());
    EXPECT_EQ(state.unfinished, L"") << "the run got through";
    EXPECT_TRUE(state.staging.empty());
    EXPECT_EQ(state.createdFolders, std::optional<std::uint32_t>(1)) << "the folder, not the one above";
    using Names = std::vector<std::wstring>;
    EXPECT_EQ(state.entries, (std::map<std::wstring, Names>{
                                 {L"system", {L"system.vhdx"}},
                                 {L"kernel", {L"tools"}},
                                 {L"app", {L"AppxManifest.xml", L"Tovik.Runtime_x64.appx", L"assets"}},
                                 {L"release", {L"release.json", L"release.cat"}}}));
    // Every file and every folder the run created; the download folder is no part of a release.
    EXPECT_EQ(
        state.placed,
        (std::map<std::wstring, Names>{
            {L"system", {L"system.vhdx"}},
            {L"kernel", {L"tools\\kernel", L"tools\\"}},
            {L"app", {L"AppxManifest.xml", L"Tovik.Runtime_x64.appx", L"assets\\logo.txt", L"assets\\"}},
            {L"release", {L"release.json", L"release.cat"}}}));
    for (const auto& component : manifest.components)
        EXPECT_EQ(state.components.at(component.id), component.packedSha256);
    EXPECT_FALSE(fs::exists(folder_ / L".download")) << "downloads go once recorded";
    EXPECT_EQ(Temporaries(), 0u);

    // Windows knows the package, its dependency and its first settings.
    auto package = Pd::Install::FindInstalledPackage();
    ASSERT_TRUE(package);
    EXPECT_EQ(package->installLocation, folder_.wstring());
    EXPECT_TRUE(package->developmentMode);
    auto seeded =
        Pd::Platform::Packages()->HasSettingValue(Pd::Install::TovikFamilyName, L"DeveloperModeEnabled");
    EXPECT_TRUE(seeded && *seeded);
    ExpectLogged({L"Installing Tovik.Runtime 1.0.",
                  L"Registering " + (folder_ / L"AppxManifest.xml").wstring(),
                  L"Android's settings are in the Start menu: Android Settings"},
                 Level::Info);
    EXPECT_TRUE(Logged(L"Peldra 3.0.0 is registered.", Level::Success));

    // The program copy with its host, and the shortcut.
    EXPECT_EQ(PdTest::ReadBytes(fs::path(program_.defaultFolder) / L"Peldra.exe"), "the running program");
    EXPECT_EQ(hostCalls_, (std::vector<std::wstring>{L"stop host", L"register task", L"start host"}));
    EXPECT_EQ(Pd::Install::FindTovikSettingsShortcuts().size(), 1u);
    EXPECT_TRUE(questions_.empty()) << "developer mode and Virtual Machine Platform were on";
    ASSERT_FALSE(progress_.empty());
    EXPECT_EQ(Stages().back(), L"Done");
    EXPECT_EQ(progress_.back().position, 1000);

    // The same release again: nothing to fetch, the registration runs again.
    auto again = Install(Load(), Options());
    ASSERT_TRUE(again) << Pd::Core::ToUtf8(again.error());
    EXPECT_EQ(again->componentsUpdated, 0);
    EXPECT_TRUE(Logged(L"Release 3.0.0 is installed; nothing to download.", Level::Info));
    for (const wchar_t* file : {L"system.zst", L"kernel.zst", L"app.zst"})
        EXPECT_EQ(Requests(L"road", file), 1u) << Pd::Core::ToUtf8(file);
    EXPECT_TRUE(Logged(L"Peldra 3.0.0 is registered.", Level::Success));

    // A file of a component gone: the component is fetched again. What in the download folder
    // belongs to no installed release goes with the successful run.
    // A file an earlier release placed and that is gone since is no longer recorded, so that it
    // does not make the component count as missing for ever.
    fs::remove(folder_ / L"assets" / L"logo.txt");
    Pd::Core::InstallState earlier = Pd::Core::ReadState(PdTest::InFolder(folder_));
    earlier.placed[L"app"].push_back(L"gone.txt");
    ASSERT_TRUE(Pd::Core::WriteState(PdTest::InFolder(folder_), earlier));
    PdTest::WriteBytes(folder_ / L".download" / L"old.zst", "an older release's");
    auto repaired = Install(Load(), Options());
    ASSERT_TRUE(repaired) << Pd::Core::ToUtf8(repaired.error());
    EXPECT_EQ(repaired->componentsUpdated, 1);
    EXPECT_EQ(Requests(L"road", L"app.zst"), 2u);
    EXPECT_TRUE(fs::exists(folder_ / L"assets" / L"logo.txt"));
    EXPECT_FALSE(fs::exists(folder_ / L".download"));
    const std::vector<std::wstring> app = Pd::Core::ReadState(PdTest::InFolder(folder_)).placed.at(L"app");
    EXPECT_EQ(std::set<std::wstring>(app.begin(), app.end()),
              std::set<std::wstring>(state.placed.at(L"app").begin(), state.placed.at(L"app").end()));
    EXPECT_EQ(Install(Load(), Options())->componentsUpdated, 0);
}

TEST_F(InstallRoad, WithoutRegisteringItStopsOnceTheReleaseFilesAreInPlaceAndCanKeepTheDownloads)
{
    PdTest::DeveloperModeSetting off(false);
    Pc("", R"("build": 22631, "virtualMachinePlatform": false)");
    auto outcome = Install(Load(), Options(false, true));
    ASSERT_TRUE(outcome) << Pd::Core::ToUtf8(outcome.error());
    EXPECT_EQ(outcome->componentsUpdated, 3);
    EXPECT_TRUE(fs::exists(folder_ / L"release.cat"));
    for (const wchar_t* file : {L"system.zst", L"kernel.zst", L"app.zst"})
        EXPECT_TRUE(fs::exists(folder_ / L".download" / file)) << Pd::Core::ToUtf8(file);
    EXPECT_EQ(Stages().back(), L"Done");
    EXPECT_TRUE(questions_.empty());
    EXPECT_FALSE(PdTest::DeveloperModeSetting::On());
    EXPECT_FALSE(Pd::Install::FindInstalledPackage());
    EXPECT_TRUE(hostCalls_.empty());
    EXPECT_FALSE(fs::exists(fs::path(program_.defaultFolder) / L"Peldra.exe"));
}

using InstallChecks = InstallTest;

// Each check ends the run before anything is fetched or written.
TEST_F(InstallChecks, WhatMustHoldBeforeTheRunIsCheckedFirst)
{
    struct Case
    {
        const char* what;
        std::string extra;
        std::string windows;
        std::function<void(Pd::Core::Manifest&)> change;
        std::wstring error;              // the whole text, or its start when it ends with "..."
        const wchar_t* logged = nullptr; // a line the run logged before it ended
    };
    const std::wstring elsewhere =
        L"Tovik is registered for the Windows user " + Stranger + L" from D:\\Elsewhere.";
    const Case cases[] = {
        {"newer program", "", R"("build": 22631)",
         [](auto& m) {
             m.app = Pd::Core::AppInfo{L"0.2.0", L"", 0, L"", L"0.1.3"};
         },
         L"Release 3.0.0 needs Peldra 0.1.3 or newer: update Peldra first."},
        {"Windows 10", "", R"("build": 21999)", [](auto&) {},
         L"Windows build 21999 is too old (at least 22000 - Windows 11 - is required).",
         L"Windows: Windows (21999.0)"},
        {"release minimum", "", R"("build": 26000)", [](auto& m) { m.minWindowsBuild = 26100; },
         L"Windows build 26000 is too old (at least 26100 - Windows 11 - is required)."},
        {"unsigned", "", R"("build": 22631)", [](auto& m) { m.isSigned = false; },
         ManifestUrl() + L" is not an official Peldra release (no valid publisher signature). This Peldra "
                         L"installs official releases only."},
        {"free space", "", R"("build": 22631)", [](auto& m) { m.components[0].size = 1ull << 60; },
         L"Not enough free space: 1073741824..."},
        {"other account elsewhere", PackagesMember(TovikPackage(L"D:\\Elsewhere", PdTest::StrangerUser)),
         R"("build": 22631)", [](auto&) {}, elsewhere + L"..."},
        {"other account running here",
         PackagesMember(TovikPackage(folder_.wstring(), PdTest::StrangerUser)) +
             R"(, "computeSystems": [{"id": "2B1B9D9E-0A4C-4D3B-9E8F-7A6B5C4D3E2F", "owner": "TovikAndroid"}])",
         R"("build": 22631)", [](auto&) {},
         L"Tovik is running for the Windows user " + Stranger +
             L". Close it on that account (Tovik Settings, Turn off) and install again."},
    };
    fs::create_directories(folder_); // the other account's folder
    for (const Case& c : cases)
    {
        Pc(c.extra, c.windows);
        Pd::Core::Manifest manifest = Load();
        c.change(manifest);
        auto refused = Install(manifest, Options());
        ASSERT_FALSE(refused) << c.what;
        EXPECT_TRUE(PdTest::Matches(refused.error(), c.error))
            << c.what << ": " << Pd::Core::ToUtf8(refused.error());
        EXPECT_EQ(Requests(L"road", L"system.zst"), 0u) << c.what;
        EXPECT_TRUE(fs::is_empty(folder_)) << c.what;
        if (c.logged)
        {
            EXPECT_TRUE(Logged(c.logged, Level::Info)) << c.what;
        }
    }

    // A download that an earlier run completed and that has the release's digest is not fetched
    // again, so its bytes need no room; one of the same size with other bytes does.
    Pc();
    Pd::Core::Manifest manifest = Load();
    const auto system = std::ranges::find(manifest.components, L"system", &Pd::Core::Component::id);
    std::uint64_t needed = 0;
    for (const auto& component : manifest.components)
        needed += component.packedSize + component.size;
    program_.freeSpace = [&](const std::wstring&) { return needed - system->packedSize; };
    const fs::path download = folder_ / L".download" / L"system.zst";
    PdTest::WriteBytes(download, std::string(system->packedSize, 'x'));
    auto refused = Install(manifest, Options(false));
    ASSERT_FALSE(refused);
    EXPECT_TRUE(refused.error().starts_with(L"Not enough free space")) << Pd::Core::ToUtf8(refused.error());
    fs::copy_file(served_.File(L"road/system.zst"), download, fs::copy_options::overwrite_existing);
    auto installed = Install(manifest, Options(false));
    EXPECT_TRUE(installed) << Pd::Core::ToUtf8(installed.error());
    program_.freeSpace = {};
    fs::remove_all(folder_);
    fs::create_directories(folder_);

    // The program's own version is the release's minimum.
    manifest = Load();
    manifest.app = Pd::Core::AppInfo{L"0.2.0", L"", 0, L"", L"0.1.2"};
    EXPECT_TRUE(Install(manifest, Options(false)));
}

TEST_F(InstallChecks, AnotherAccountsTovikFromThisFolderIsUpdatedForThatAccountWithoutRegistering)
{
    PdTest::DeveloperModeSetting off(false);
    fs::create_directories(folder_);
    Pc(PackagesMember(TovikPackage(folder_.wstring(), PdTest::StrangerUser)));
    auto outcome = Install(Load(), Options());
    ASSERT_TRUE(outcome) << Pd::Core::ToUtf8(outcome.error());
    EXPECT_TRUE(Logged(L"Tovik is registered for the Windows user " + Stranger +
                           L" from this folder: this installation updates it for that user.",
                       Level::Info));
    EXPECT_TRUE(Logged(L"Peldra 3.0.0 installed for the Windows user " + Stranger +
                           L". Tovik stays registered for that user only: Windows lets one user at a time "
                           L"register an unpacked package.",
                       Level::Success));
    EXPECT_EQ(Pd::Core::ReadState(PdTest::InFolder(folder_)).version, L"3.0.0");
    EXPECT_TRUE(questions_.empty());
    EXPECT_FALSE(Pd::Install::FindInstalledPackage()) << "not registered for this account";
    EXPECT_TRUE(fs::exists(fs::path(program_.defaultFolder) / L"Peldra.exe"));
    EXPECT_TRUE(hostCalls_.empty()) << "no task and no host for another account's Tovik";
}

using InstallQuestions = InstallTest;

TEST_F(InstallQuestions, DecliningAFeatureCancelsWithTheFilesRecordedAndNothingSwitchedOn)
{
    struct Case
    {
        bool developerMode;
        std::wstring question;
    };
    for (const Case& c :
         {Case{false, L"Windows registers an unpacked app only in developer mode. Turn "
                      L"developer mode on?"},
          Case{true, L"Tovik runs in a virtual machine: the Windows feature Virtual Machine "
                     L"Platform is needed. Enable it now? Windows has to restart afterwards."}})
    {
        PdTest::DeveloperModeSetting developerMode(c.developerMode);
        Pc("", R"("build": 22631, "virtualMachinePlatform": false)");
        answer_ = false;
        auto outcome = Install(Load(), Options());
        ASSERT_FALSE(outcome);
        EXPECT_EQ(outcome.error(), L"Canceled.");
        EXPECT_EQ(questions_, std::vector<std::wstring>{c.question});
        EXPECT_EQ(PdTest::DeveloperModeSetting::On(), c.developerMode);
        EXPECT_FALSE(PdTest::UserValues::Text(L"EnabledDeveloperMode"));
        EXPECT_FALSE(PdTest::UserValues::Text(L"EnabledVirtualMachinePlatform"));
        EXPECT_FALSE(Pd::Core::FeatureRecorded(Pd::Core::RecordedFeature::DeveloperMode));
        EXPECT_FALSE(Pd::Core::FeatureRecorded(Pd::Core::RecordedFeature::VirtualMachinePlatform));
        EXPECT_EQ(Pd::Platform::Sim::StateStore(pc_->Folder()).Read().Member(L"dismRuns").Items().size(), 0u);
        EXPECT_FALSE(Pd::Install::FindInstalledPackage());
        EXPECT_EQ(Pd::Core::ReadState(PdTest::InFolder(folder_)).version, L"3.0.0")
            << "the switched files are recorded";
        EXPECT_EQ(Pd::Core::ReadState(PdTest::InFolder(folder_)).unfinished, L"program")
            << "the program copy and its host are still to come";
    }
}

TEST_F(InstallQuestions, AFolderHoldingOtherFilesIsUsedOnlyAfterAsking)
{
    Pc();
    PdTest::WriteBytes(folder_ / L"system.vhdx", "the user's");
    answer_ = false;
    // The run's entry tells a "no" by the answer, never by the text (the user's language).
    auto declined = Pd::Core::Run(Load(), Options(), Callbacks(), {});
    ASSERT_FALSE(declined);
    EXPECT_EQ(declined.error().text, L"Canceled.");
    EXPECT_TRUE(declined.error().canceled);
    EXPECT_EQ(questions_,
              std::vector<std::wstring>{
                  folder_.wstring() +
                  L" already holds files that Peldra did not install. Files of the release with the "
                  L"same names replace them; an uninstall later leaves the others where they are. "
                  L"Install into this folder?"});
    EXPECT_EQ(PdTest::ReadBytes(folder_ / L"system.vhdx"), "the user's");
    EXPECT_EQ(Requests(L"road", L"system.zst"), 0u) << "nothing is fetched before the answer";
    auto refused = Pd::Core::Run(Load(), {PdTest::InFolder(L"C:\\"), false, false}, Callbacks(), {});
    ASSERT_FALSE(refused);
    EXPECT_FALSE(refused.error().canceled);

    answer_ = true;
    ASSERT_TRUE(Install(Load(), Options()));
    EXPECT_EQ(questions_.size(), 1u);
    // Its state file makes the folder the program's: the next run asks nothing.
    ASSERT_TRUE(Install(Load(), Options()));
    EXPECT_TRUE(questions_.empty());
}

TEST_F(InstallQuestions, AStoreTovikIsReplacedWithItsDataKeptOnlyAfterAsking)
{
    Pc(PackagesMember(TovikPackage(L"C:\\Program Files\\WindowsApps\\Tovik")) +
       R"(, "appSettings": {"TovikPackage_tv9kp7a3nqe2r": {"DeveloperModeEnabled": true}})");
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

TEST_F(InstallQuestions, AnOlderReleaseIsInstalledOverANewerOneOnlyAfterAskingWithBothVersions)
{
    Pc();
    Serve(L"road-update");
    ASSERT_TRUE(Install(Load(L"road-update"), Options(false)));
    const std::vector<std::wstring> asked{
        L"Release 3.0.0 is older than the installed release 3.1.0. Install the older release?"};
    answer_ = false;
    auto declined = Install(Load(), Options(false));
    ASSERT_FALSE(declined);
    EXPECT_EQ(declined.error(), L"Canceled.");
    EXPECT_EQ(questions_, asked);
    EXPECT_EQ(Requests(L"road", L"kernel.zst"), 0u) << "nothing fetched before the answer";
    EXPECT_EQ(Pd::Core::ReadState(PdTest::InFolder(folder_)).version, L"3.1.0");

    answer_ = true;
    ASSERT_TRUE(Install(Load(), Options(false)));
    EXPECT_EQ(questions_, asked);
    EXPECT_EQ(Pd::Core::ReadState(PdTest::InFolder(folder_)).version, L"3.0.0");
}

using InstallRegistration = InstallTest;

TEST_F(InstallRegistration, AnOldFolderRegistrationThatWindowsKeepsIsRemovedAndRegisteredAgain)
{
    Pc(PackagesMember(
        TovikPackage(L"D:\\Old", R"("current")", R"(, "developmentMode": true, "keepsRegistration": true)")));
    auto outcome = Install(Load(), Options());
    ASSERT_TRUE(outcome) << Pd::Core::ToUtf8(outcome.error());
    EXPECT_TRUE(Logged(L"Replaces the Tovik registered from D:\\Old (Android data kept).", Level::Info));
    EXPECT_TRUE(Logged(L"Windows kept the old registration (...", Level::Warning));
    EXPECT_EQ(Pd::Install::FindInstalledPackage()->installLocation, folder_.wstring());
}

TEST_F(InstallRegistration, AFailureForThisFolderIsNotRetried)
{
    Pc(R"(, "deploymentFailures": {"register": "0x80073CF6"})");
    auto outcome = Install(Load(), Options());
    ASSERT_FALSE(outcome);
    EXPECT_TRUE(outcome.error().starts_with(L"Registering the Tovik package: "))
        << Pd::Core::ToUtf8(outcome.error());
    EXPECT_TRUE(outcome.error().ends_with(L" (code 0x80073CF6)")) << Pd::Core::ToUtf8(outcome.error());
    EXPECT_FALSE(Logged(L"Windows kept the old registration...", Level::Warning));
}

TEST_F(InstallRegistration, OnBuild28000OrLaterTheRunAsksForThePatch)
{
    Pc("", R"("build": 28000)");
    ASSERT_TRUE(Install(Load(), Options()));
    EXPECT_TRUE(Logged(L"Windows build 28000 refuses Tovik without TovikPatch; run TovikPatch.exe from the "
                       L"install folder.",
                       Level::Warning));
}

using InstallCancellation = InstallTest;

// A stop ends the run with the step's text, keeps what was downloaded and leaves nothing staged.
TEST_F(InstallCancellation, AStopBetweenOrInsideStepsKeepsTheDownloadsAndStagesNothing)
{
    struct Case
    {
        const char* what;
        std::function<bool(const std::wstring&, std::uint64_t)> stopAt; // a stage with its bytes, or a line
        std::wstring error;                                             // "...": any text that ends so
        std::set<std::wstring> downloaded;
    };
    const std::set<std::wstring> all = {L"system.zst", L"kernel.zst", L"app.zst"};
    const Case cases[] = {
        {"between download and unpack",
         [](const std::wstring& text, std::uint64_t) { return text == L"app files: SHA-256 verified."; },
         L"Canceled.", all},
        {"inside a transfer",
         [](const std::wstring& text, std::uint64_t bytes) {
             return text == L"Downloading system.vhdx" && bytes > 0;
         },
         L"system.vhdx: Canceled.",
         {L"system.zst"}},
        {"while unpacking",
         [](const std::wstring& text, std::uint64_t) { return text.starts_with(L"Unpacking"); },
         L"...Canceled.", all},
    };
    Pc();
    for (const Case& c : cases)
    {
        fs::remove_all(folder_);
        served_.Rule(L"road/system.zst", R"({"stallAfter": 65536, "stallMs": 300})");
        std::stop_source stop;
        onProgress_ = [&](const Pd::Core::Progress& progress) {
            if (c.stopAt(progress.stage, progress.bytesDone))
                stop.request_stop();
        };
        onLog_ = [&](const std::wstring& line) {
            if (c.stopAt(line, 0))
                stop.request_stop();
        };
        auto outcome = Install(Load(), Options(), stop.get_token());
        ASSERT_FALSE(outcome) << c.what;
        EXPECT_TRUE(c.error.starts_with(L"...") ? outcome.error().ends_with(c.error.substr(3))
                                                : outcome.error() == c.error)
            << c.what << ": " << Pd::Core::ToUtf8(outcome.error());
        for (const std::wstring& file : all)
        {
            const fs::path download = folder_ / L".download" / file;
            EXPECT_EQ(fs::exists(download) && fs::file_size(download) > 0, c.downloaded.contains(file))
                << c.what << ": " << download.string();
        }
        EXPECT_EQ(Temporaries(), 0u) << c.what;
        EXPECT_FALSE(fs::exists(folder_ / L"system.vhdx")) << c.what;
        // Recorded as begun and not installed, so that an uninstall finds what it left.
        const Pd::Core::InstallState state = Pd::Core::ReadState(PdTest::InFolder(folder_));
        EXPECT_EQ(state.version, L"") << c.what;
        EXPECT_EQ(state.unfinished, L"install") << c.what;
        EXPECT_EQ(state.placed.at(L"system"), std::vector<std::wstring>{L"system.vhdx"}) << c.what;
    }
}

using InstallFailure = InstallTest;

// A first install that fails before the switch-over (not a download, which the next run resumes,
// nor a cancel) leaves nothing but what the user had: no staged file, no folder of the unpack, no
// download, no state file, and the install folder only when the user had it.
TEST_F(InstallFailure, AFirstInstallThatFailsWhileUnpackingLeavesOnlyWhatTheUserHad)
{
    struct Case
    {
        const char* what;
        std::function<void(Pd::Core::Manifest&)> change;
        std::wstring error; // the end of the text
    };
    const auto component = [](Pd::Core::Manifest& manifest, const wchar_t* id) -> Pd::Core::Component& {
        return *std::ranges::find(manifest.components, id, &Pd::Core::Component::id);
    };
    const Case cases[] = {
        {"a file", [&](auto& m) { component(m, L"kernel").sha256 = std::wstring(64, L'0'); },
         L"does not match the release after unpacking (SHA-256)."},
        {"inside an archive", [&](auto& m) { component(m, L"app").size = 300; },
         L"is larger after unpacking than the release says (300 bytes)."},
    };
    Pc();
    for (const Case& c : cases)
        for (const bool userHadFolder : {false, true})
        {
            fs::remove_all(folder_);
            if (userHadFolder)
                PdTest::WriteBytes(folder_ / L"mine.txt", "the user's");
            Pd::Core::Manifest manifest = Load();
            c.change(manifest);
            auto failed = Install(manifest, Options());
            ASSERT_FALSE(failed) << c.what;
            EXPECT_TRUE(failed.error().ends_with(c.error))
                << c.what << ": " << Pd::Core::ToUtf8(failed.error());
            ASSERT_EQ(fs::exists(folder_), userHadFolder) << c.what;
            if (userHadFolder)
            {
                EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 1)
                    << c.what;
                EXPECT_EQ(PdTest::ReadBytes(folder_ / L"mine.txt"), "the user's") << c.what;
            }
        }
}

// The state file's last write failing (a full disk at that moment) fails the run with the way on,
// leaves nothing temporary, and keeps the record that status and verify read: the program part is
// unfinished. The next run finishes it.
TEST_F(InstallFailure, AStateFileThatCannotBeWrittenAtTheEndFailsTheRunWithTheWayOn)
{
    Pc();
    const fs::path state = folder_ / L"peldra.json";
    const fs::path aside = folder_ / L"peldra.json.aside";
    // The host starts right before the last write: a folder then in the file's place refuses it.
    program_.startHost = [&]() -> Pd::Result<> {
        fs::rename(state, aside);
        fs::create_directories(state / L"inside");
        return {};
    };
    auto failed = Install(Load(), Options());
    ASSERT_FALSE(failed);
    EXPECT_TRUE(failed.error().ends_with(
        L" Peldra could not record that the install finished: run install again to finish it."));
    EXPECT_EQ(Temporaries(), 0u);
    fs::remove_all(state);
    fs::rename(aside, state);
    EXPECT_EQ(Pd::Core::ReadState(PdTest::InFolder(folder_)).unfinished, L"program");
    program_.startHost = []() -> Pd::Result<> { return {}; };
    ASSERT_TRUE(Install(Load(), Options()));
    EXPECT_EQ(Pd::Core::ReadState(PdTest::InFolder(folder_)).unfinished, L"");
}

class InstallCrash : public InstallTest
{
protected:
    // Starts the driver, waits until it halts where asked ("download" or "switch"), and kills it.
    void RunAndKill(const std::wstring& release, const wchar_t* halt)
    {
        const std::wstring event = L"Local\\PeldraReleaseDriver." + std::to_wstring(::GetCurrentProcessId());
        Pd::UniqueHandle halted(::CreateEventW(nullptr, TRUE, FALSE, event.c_str()));
        ASSERT_TRUE(halted);
        Pd::UniqueHandle process = PdTest::StartProgram(
            L"\"" + PdTest::PathFromEnvironment(L"PD_RELEASE_DRIVER").wstring() + L"\" install \"" +
            ManifestUrl(release) + L"\" \"" + folder_.wstring() + L"\" " + halt + L" " + event);
        ASSERT_TRUE(process) << ::GetLastError();
        HANDLE both[] = {halted.Get(), process.Get()};
        const DWORD which = ::WaitForMultipleObjects(2, both, FALSE, Pd::Test::HangLimitMs);
        ::TerminateProcess(process.Get(), 9);
        ::WaitForSingleObject(process.Get(), Pd::Test::HangLimitMs);
        ASSERT_EQ(which, WAIT_OBJECT_0) << "the driver ended or hung before it halted";
    }
};

TEST_F(InstallCrash, ARunKilledWhileDownloadingIsResumedAndCompletedByTheNextRun)
{
    Pc();
    // The stall keeps the rest of the file from arriving before the driver is killed.
    served_.Rule(L"road/system.zst", R"([{"stallAfter": 65536, "stallMs": 3000}, {}])");
    RunAndKill(L"road", L"download");
    const auto partial = fs::file_size(folder_ / L".download" / L"system.zst");
    EXPECT_GT(partial, 0u);
    EXPECT_LT(partial, Load().components[0].packedSize);
    EXPECT_EQ(Pd::Core::ReadState(PdTest::InFolder(folder_)).version, L"") << "nothing is installed yet";

    auto outcome = Install(Load(), Options(false));
    ASSERT_TRUE(outcome) << Pd::Core::ToUtf8(outcome.error());
    EXPECT_EQ(outcome->componentsUpdated, 3);
    const auto requests = served_.Requests(L"road/system.zst");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].range, L"bytes=" + std::to_wstring(partial) + L"-") << "the second run resumed";
    EXPECT_EQ(Pd::Core::ReadState(PdTest::InFolder(folder_)).version, L"3.0.0");
}

TEST_F(InstallCrash, ASwitchOverCutOffHalfWaySaysSoInTheStateFileUntilTheNextRunFinishesIt)
{
    Pc();
    ASSERT_TRUE(Install(Load(), Options(false)));
    Serve(L"road-update");
    // A folder in the kernel's place cannot be replaced by a file (a reader would only delay it).
    const fs::path kernel = folder_ / L"tools" / L"kernel";
    fs::remove(kernel);
    fs::create_directories(kernel / L"inside");
    ASSERT_FALSE(Install(Load(L"road-update"), Options(false)));
    fs::remove_all(kernel);
    const Pd::Core::InstallState cutOff = Pd::Core::ReadState(PdTest::InFolder(folder_));
    EXPECT_EQ(cutOff.unfinished, L"update");
    EXPECT_EQ(cutOff.version, L"3.0.0");

    ASSERT_TRUE(Install(Load(L"road-update"), Options(false)));
    const Pd::Core::InstallState finished = Pd::Core::ReadState(PdTest::InFolder(folder_));
    EXPECT_EQ(finished.unfinished, L"");
    EXPECT_EQ(finished.version, L"3.1.0");
    EXPECT_EQ(PdTest::ReadBytes(folder_ / L"tools" / L"kernel"), "kernel 2\n");
}

// An update killed when the switch-over begins leaves the previous release whole; the next run
// finishes it and leaves no download and nothing staged behind.
TEST_F(InstallCrash, ARunKilledBeforeTheSwitchOverLeavesThePreviousReleaseWhole)
{
    Pc();
    ASSERT_TRUE(Install(Load(), Options(false)));
    const Pd::Core::InstallState before = Pd::Core::ReadState(PdTest::InFolder(folder_));
    const std::string kernelBefore = PdTest::ReadBytes(folder_ / L"tools" / L"kernel");
    const std::string releaseBefore = PdTest::ReadBytes(folder_ / L"release.json");

    Serve(L"road-update");
    RunAndKill(L"road-update", L"switch");
    EXPECT_GT(Temporaries(), 0u) << "the update was staged when it was killed";
    EXPECT_EQ(PdTest::ReadBytes(folder_ / L"tools" / L"kernel"), kernelBefore);
    EXPECT_EQ(PdTest::ReadBytes(folder_ / L"release.json"), releaseBefore);
    // The previous release stays recorded; the state only says that a run had begun.
    const Pd::Core::InstallState cutOff = Pd::Core::ReadState(PdTest::InFolder(folder_));
    EXPECT_EQ(cutOff.version, before.version);
    EXPECT_EQ(cutOff.components, before.components);
    EXPECT_EQ(cutOff.entries, before.entries);
    EXPECT_EQ(cutOff.unfinished, L"install");

    auto outcome = Install(Load(L"road-update"), Options(false));
    ASSERT_TRUE(outcome) << Pd::Core::ToUtf8(outcome.error());
    EXPECT_EQ(PdTest::ReadBytes(folder_ / L"tools" / L"kernel"), "kernel 2\n");
    EXPECT_EQ(Pd::Core::ReadState(PdTest::InFolder(folder_)).version, L"3.1.0");
    EXPECT_EQ(Temporaries(), 0u);
    EXPECT_FALSE(fs::exists(folder_ / L".download"));
}

// The state file comes before anything is placed, and names each component's staged files before
// the next one begins: a first install killed inside an archive is no installation, and the
// uninstall takes all of it, the folder the install created included.
TEST_F(InstallCrash, AFirstInstallKilledWhileUnpackingIsRemovedWholeByAnUninstall)
{
    Pc();
    RunAndKill(L"road", L"unpack");
    const Pd::Core::InstallState cutOff = Pd::Core::ReadState(PdTest::InFolder(folder_));
    EXPECT_EQ(cutOff.version, L"");
    EXPECT_EQ(cutOff.unfinished, L"install");
    EXPECT_EQ(cutOff.staging, std::vector<std::wstring>{L""})
        << "the app archive goes into the folder itself";
    EXPECT_EQ(cutOff.placed.at(L"kernel"), (std::vector<std::wstring>{L"tools\\kernel", L"tools\\"}));
    EXPECT_GT(Temporaries(), 2u);

    const DWORD exitCode =
        PdTest::RunProgram(L"\"" + PdTest::PathFromEnvironment(L"PD_RELEASE_DRIVER").wstring() +
                           L"\" uninstall \"" + folder_.wstring() + L"\"");
    EXPECT_EQ(exitCode, 0u) << "the run failed or collected failures (see its lines above)";
    EXPECT_FALSE(fs::exists(folder_));
}

} // namespace
