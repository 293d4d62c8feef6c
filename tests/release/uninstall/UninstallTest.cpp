// The uninstall run on a simulated Windows 11 PC, mostly after a real install run of a signed
// test release: which Tovik is whose, what goes with Removal 0 and 1, the program's own installer
// package, the running program inside the folder, and names from the state file that must never
// be deleted. The registry, the Start menu and the Wine prefix's folders are the real ones.
#include "release/uninstall/Uninstall.h"

#include "core/host/HostControl.h"
#include "core/host/ScheduledTask.h"
#include "core/Settings.h"
#include "core/Text.h"
#include "platform/Guid.h"
#include "platform/HvSocket.h"
#include "release/base/MachineRecords.h"
#include "release/folders/Folders.h"
#include "release/folders/KnownFolder.h"
#include "release/uninstall/Leftovers.h"
#include "release/verify/DigestCache.h"
#include "release/windows/PackageDeployment.h"
#include "release/windows/SettingsShortcut.h"
#include "release/windows/WindowsInfo.h"
#include "tests/release/FakeClient.h"
#include "tests/release/InstallFixture.h"
#include "tests/support/UnixLink.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace
{

namespace fs = std::filesystem;
using Pd::Level;
using Pd::Core::Removal;
using PdTest::KeyExists;
using PdTest::PackagesMember;
using PdTest::TovikPackage;

const std::wstring UninstallKey =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\PdTestTovikEntry";
const std::string Vmp = R"("build": 22631, "virtualMachinePlatform": true)";

std::wstring VsockKey(std::uint32_t service)
{
    return L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Virtualization\\GuestCommunicationServices\\" +
           Pd::Platform::GuidText(Pd::Platform::VsockServiceGuid(service), true);
}

// What MoveFileExW left for the next start of Windows, as one text; read once, then forgotten.
std::wstring TakePendingRenames()
{
    const wchar_t* key = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
    DWORD size = 0;
    std::wstring text;
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, key, L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, nullptr,
                       nullptr, &size) == ERROR_SUCCESS)
    {
        text.resize(size / sizeof(wchar_t));
        ::RegGetValueW(HKEY_LOCAL_MACHINE, key, L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, nullptr,
                       text.data(), &size);
        std::ranges::replace(text, L'\0', L'|');
    }
    ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, key, L"PendingFileRenameOperations");
    return text;
}

class Uninstall : public PdTest::InstallTest
{
protected:
    void SetUp() override
    {
        InstallTest::SetUp();
        setting_.runningExe = program_.runningExe;
        setting_.defaultFolder = PdTest::InFolder(program_.defaultFolder);
        setting_.programDataFolder = (scratch_.Path() / L"Data").wstring();
        setting_.ownInstallerPackage = [this] { return ownInstallerPackage_; };
        setting_.hostRunning = [] { return false; };
        setting_.taskRegistered = [this] { return taskRegistered_; };
        setting_.stopHost = [this] { hostCalls_.push_back(L"stop host"); };
        setting_.setTaskRegistered = [this](bool on) -> Pd::Result<> {
            hostCalls_.push_back(on ? L"register task" : L"remove task");
            return {};
        };
    }

    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(Pd::Install::TovikDataFolder(), ignored);
        ::RegDeleteTreeW(HKEY_CURRENT_USER, UninstallKey.c_str());
        InstallTest::TearDown();
    }

    Pd::Core::Outcome InstallRelease(std::string_view windows = R"("build": 22631)")
    {
        Pc("", windows);
        auto installed = Install(Load(), Options());
        EXPECT_TRUE(installed) << Pd::Core::ToUtf8(installed.error());
        return installed.value_or(Pd::Core::Outcome{});
    }

    Pd::Result<Pd::Core::RemovalOutcome> Remove(const fs::path& folder, Removal removal)
    {
        return Pd::Core::Detail::UninstallWith(PdTest::InFolder(folder), removal, Callbacks(), setting_);
    }

    static void SetIcon(const std::wstring& icon)
    {
        ::RegSetKeyValueW(HKEY_CURRENT_USER, UninstallKey.c_str(), L"DisplayIcon", REG_SZ, icon.c_str(),
                          static_cast<DWORD>((icon.size() + 1) * sizeof(wchar_t)));
    }

    Pd::Core::Detail::UninstallSetting setting_;
    bool ownInstallerPackage_ = false;
    bool taskRegistered_ = false;
};

TEST_F(Uninstall, EverythingAfterAnInstallThatSwitchedFeaturesOnLeavesNothingOfTheRelease)
{
    // The install asks for developer mode and Virtual Machine Platform and registers the real task,
    // which runs only Peldra's copy in the real install folder.
    PdTest::DeveloperModeSetting developerModeOff(false);
    struct InstalledCopy
    {
        const fs::path path = Pd::Host::InstalledHostExePath();
        InstalledCopy() { PdTest::WriteBytes(path, "MZ"); }
        ~InstalledCopy() { fs::remove(path); }
    } installedCopy;
    program_.setTaskRegistered = [](bool on) { return Pd::Host::SetTaskRegistered(on); };
    EXPECT_TRUE(InstallRelease(R"("build": 22631, "virtualMachinePlatform": false, "dismExitCode": 3010)")
                    .restartNeeded);
    EXPECT_EQ(questions_.size(), 2u);
    EXPECT_TRUE(Logged(L"Developer mode turned on.", Level::Success));
    ASSERT_TRUE(PdTest::DeveloperModeSetting::On());
    ASSERT_TRUE(Pd::Host::IsTaskRegistered());
    ASSERT_EQ(Pd::Install::FindTovikSettingsShortcuts().size(), 1u);

    // What the program and Tovik leave while they run.
    const fs::path data = Pd::Install::TovikDataFolder();
    PdTest::WriteBytes(data / L"LocalState" / L"user.img", std::string(3000, 'u'));
    PdTest::WriteBytes(fs::path(program_.defaultFolder) / L"Magisk" / L"Magisk.apk", "apk");
    PdTest::WriteBytes(fs::path(setting_.programDataFolder) / L"bluetooth.log", "log");
    for (std::uint32_t service : {0x544B4254u, 0x544B4650u})
        ASSERT_EQ(
            ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, VsockKey(service).c_str(), L"ElementName", REG_SZ, L"x", 4),
            ERROR_SUCCESS);
    Pd::Core::RememberFileSha256((folder_ / L"release.json").wstring(), std::wstring(64, L'a'));
    ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, Pd::Core::DigestCacheKey, L"c:\\x", REG_BINARY, "x", 1);
    SetIcon(data.wstring() + L"\\icon.ico");
    const fs::path programsShortcut =
        fs::path(Pd::Install::KnownFolderPath(FOLDERID_Programs)) / L"PdTest Kernel.lnk";
    PdTest::MakeShortcut(programsShortcut, (folder_ / L"tools" / L"kernel").wstring());
    // Another program's shortcut below the install folder is not Tovik's.
    const fs::path otherShortcut = programsShortcut.parent_path() / L"PdTest Other.lnk";
    PdTest::MakeShortcut(otherShortcut, (folder_ / L"OtherApp" / L"other.exe").wstring());
    setting_.taskRegistered = [] { return Pd::Host::IsTaskRegistered(); };
    setting_.setTaskRegistered = [](bool on) { return Pd::Host::SetTaskRegistered(on); };

    auto outcome = Remove(folder_, Removal::Everything);
    ASSERT_TRUE(outcome) << Pd::Core::ToUtf8(outcome.error());
    EXPECT_TRUE(outcome->failures.empty()) << Pd::Core::ToUtf8(outcome->failures.front());
    EXPECT_TRUE(outcome->restartNeeded);

    PdTest::ExpectPaths({folder_, program_.defaultFolder, data, setting_.programDataFolder, programsShortcut},
                        false);
    EXPECT_TRUE(fs::exists(otherShortcut));
    ::DeleteFileW(otherShortcut.c_str());
    EXPECT_FALSE(Pd::Install::FindInstalledPackage());
    EXPECT_FALSE(Pd::Host::IsTaskRegistered());
    EXPECT_TRUE(Pd::Install::FindTovikSettingsShortcuts().empty());
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, UninstallKey));
    EXPECT_FALSE(PdTest::DeveloperModeSetting::On());
    EXPECT_EQ(Pd::Core::QueryWindows().virtualMachinePlatform, std::optional<bool>(false));
    for (const auto& [root, key] : {std::pair{HKEY_CURRENT_USER, std::wstring(Pd::Core::SettingsKey)},
                                    {HKEY_LOCAL_MACHINE, Pd::Core::SettingsKey},
                                    {HKEY_LOCAL_MACHINE, Pd::Core::DigestCacheKey},
                                    {HKEY_LOCAL_MACHINE, VsockKey(0x544B4254)},
                                    {HKEY_LOCAL_MACHINE, VsockKey(0x544B4650)}})
        EXPECT_FALSE(KeyExists(root, key)) << Pd::Core::ToUtf8(key);

    EXPECT_EQ(Stages(), (std::vector<std::wstring>{L"Checking Windows", L"Removing Tovik from Windows",
                                                   L"Deleting files", L"Removing what Tovik left in Windows",
                                                   L"Done"}));
    EXPECT_EQ(progress_.back().position, 1000);
    ExpectLogged(
        {L"Tovik package and its data removed.", L"Android data deleted: " + data.wstring() + L" (2.9 KB).",
         L"Windows entries of Tovik removed: 1 shortcuts, 1 registry keys, 0 registry values.",
         L"Developer mode turned off again (Peldra had turned it on).",
         L"Virtual Machine Platform disabled again (Peldra had enabled it).",
         L"Bluetooth and Windows Hello bridges stopped; their registrations, start with Windows and log "
         L"removed.",
         L"Settings of Peldra removed (HKCU\\Software\\Ormel\\Peldra).",
         L"Files of Peldra deleted from " + folder_.wstring() + L" (..."},
        Level::Success);
}

// The user's files in a folder of the release and in the install folder outlive the uninstall,
// "*.new" ones too (only the staged names the install recorded go); a state file of an older
// version, which recorded names only, still removes those whole.
TEST_F(Uninstall, OnlyWhatTheInstallPlacedGoesUnlessAnOlderStateFileNamesIt)
{
    for (bool olderState : {false, true})
    {
        PdTest::WriteBytes(folder_ / L"mine" / L"notes.txt", "the user's");
        InstallRelease();
        ASSERT_EQ(questions_.size(), 1u) << "the folder held the user's files";
        PdTest::WriteBytes(folder_ / L"tools" / L"my-notes.txt", "the user's");
        PdTest::WriteBytes(folder_ / L"tools" / L"notes.new", "the user's");
        PdTest::WriteBytes(folder_ / L"notes.new", "the user's");
        PdTest::WriteBytes(folder_ / L"tools" / L"kernel.new", "staged by a run cut off");
        if (olderState)
        {
            Pd::Core::InstallState state = Pd::Core::ReadState(PdTest::InFolder(folder_));
            state.placed.clear();
            ASSERT_TRUE(Pd::Core::WriteState(PdTest::InFolder(folder_), state));
        }

        auto outcome = Remove(folder_, Removal::KeepData);
        ASSERT_TRUE(outcome) << Pd::Core::ToUtf8(outcome.error());
        EXPECT_TRUE(outcome->failures.empty());
        EXPECT_EQ(fs::exists(folder_ / L"tools" / L"my-notes.txt"), !olderState);
        EXPECT_EQ(fs::exists(folder_ / L"tools" / L"notes.new"), !olderState);
        EXPECT_EQ(PdTest::ReadBytes(folder_ / L"mine" / L"notes.txt"), "the user's");
        EXPECT_EQ(PdTest::ReadBytes(folder_ / L"notes.new"), "the user's");
        PdTest::ExpectPaths({folder_ / L"tools" / L"kernel", folder_ / L"tools" / L"kernel.new",
                             folder_ / L"system.vhdx", folder_ / L"assets", folder_ / L"AppxManifest.xml",
                             folder_ / L"release.json", folder_ / L"peldra.json"},
                            false);
        EXPECT_TRUE(
            Logged(folder_.wstring() + L" still holds files Peldra did not install: the folder stays.",
                   Level::Warning));
        fs::remove_all(folder_);
    }
}

// A delete at the next restart is carried out by its text, before any check: only the running
// program in the default install folder is scheduled. Run from a chosen folder, the program and a
// hard link of another name to it stay, nothing is scheduled, and the run says it did not finish.
TEST_F(Uninstall, RunningProgramGoesAtTheNextRestartOnlyFromTheDefaultFolder)
{
    InstallRelease();
    // The uninstall runs in a process of its own whose program lies in the release folder.
    const fs::path program = folder_ / L"Peldra.exe";
    const fs::path link = folder_ / L"helper.exe";
    ASSERT_TRUE(fs::copy_file(PdTest::PathFromEnvironment(L"PD_RELEASE_DRIVER"), program));
    ASSERT_TRUE(::CreateHardLinkW(link.c_str(), program.c_str(), nullptr));
    Pd::Core::InstallState state = Pd::Core::ReadState(PdTest::InFolder(folder_));
    state.entries[L"host"] = {L"Peldra.exe", L"helper.exe", L"language"};
    ASSERT_TRUE(Pd::Core::WriteState(PdTest::InFolder(folder_), state));
    TakePendingRenames();

    const DWORD exitCode =
        PdTest::RunProgram(L"\"" + program.wstring() + L"\" uninstall \"" + folder_.wstring() + L"\"");
    EXPECT_EQ(TakePendingRenames(), L"");
    EXPECT_EQ(exitCode, 3u) << "the program that stays is a failure";
    EXPECT_FALSE(Pd::Install::FindInstalledPackage());
    std::vector<std::wstring> left;
    for (const auto& entry : fs::directory_iterator(folder_))
        left.push_back(entry.path().filename().wstring());
    std::ranges::sort(left);
    EXPECT_EQ(left, (std::vector<std::wstring>{L"Peldra.exe", L"helper.exe"}));

    // In process, with the link as the running program: the line about the release's files is a
    // warning that counts what stayed and what the state file freed, and says the package went. In
    // the default install folder the same program goes at the next restart, with its folder.
    fs::remove(program);
    Pd::Core::Detail::UninstallSetting setting = setting_;
    setting.runningExe = link.wstring();
    Pd::Core::RemovalOutcome outcome;
    Pd::Core::InstallState named;
    named.entries[L"host"] = {L"helper.exe"};
    ASSERT_TRUE(Pd::Core::WriteState(PdTest::InFolder(folder_), named));
    const auto stateSize = fs::file_size(folder_ / L"peldra.json");
    const auto files = Pd::Core::Detail::RemoveReleaseFilesWith(PdTest::InFolder(folder_), named, Callbacks(),
                                                                outcome, false, setting, true);
    EXPECT_FALSE(files.programScheduled);
    Pd::Core::Detail::RemoveStateAndFolderWith(PdTest::InFolder(folder_), named, Callbacks(), outcome, false,
                                               files, setting);
    EXPECT_EQ(outcome.failures, (std::vector<std::wstring>{
                                    Pd::Core::FormatText(Pd::TextId::RunningProgramOutsideDefaultStays,
                                                         link.wstring(), setting.defaultFolder.Path())}));
    EXPECT_TRUE(Logged(Pd::Core::FormatText(Pd::TextId::PeldraFilesPartlyDeletedPackageGone,
                                            folder_.wstring(), Pd::Core::FormatBytes(stateSize), 1),
                       Level::Warning));
    EXPECT_EQ(TakePendingRenames(), L"");

    outcome = {};
    setting.defaultFolder = PdTest::InFolder(folder_);
    ASSERT_TRUE(Pd::Core::WriteState(PdTest::InFolder(folder_), named));
    const auto scheduled = Pd::Core::Detail::RemoveReleaseFilesWith(PdTest::InFolder(folder_), named,
                                                                    Callbacks(), outcome, false, setting);
    EXPECT_TRUE(scheduled.programScheduled);
    Pd::Core::Detail::RemoveStateAndFolderWith(PdTest::InFolder(folder_), named, Callbacks(), outcome, false,
                                               scheduled, setting);
    const std::wstring pending = TakePendingRenames();
    EXPECT_TRUE(outcome.failures.empty());
    for (const fs::path& path : {link, folder_})
        EXPECT_NE(pending.find(L"\\??\\" + path.wstring() + L"||"), std::wstring::npos)
            << Pd::Core::ToUtf8(pending);
}

// A link put on the way to the folder after the install: nothing is deleted through it, the line
// about the release's files says so rather than "deleted", and it counts, the state file included,
// every item the run's result counts.
TEST_F(Uninstall, ALinkOnTheWayDeletesNothingAndTheLineCountsWhatTheRunCounts)
{
    InstallRelease();
    const fs::path real = scratch_.Path() / L"real";
    fs::create_directory(real);
    fs::rename(folder_, real / L"Tovik");
    PdTest::UnixLinks links;
    ASSERT_TRUE(links.Make(real.wstring(), (scratch_.Path() / L"via").wstring()));
    const fs::path via = scratch_.Path() / L"via" / L"Tovik";
    std::vector<fs::path> before(fs::recursive_directory_iterator(real), {});

    const auto removed = Remove(via, Removal::KeepData);
    ASSERT_TRUE(removed) << Pd::Core::ToUtf8(removed.error());
    ASSERT_FALSE(removed->failures.empty());
    // The registration names the folder's old path, where nothing is now, and the record's folder
    // by identity: it is Peldra's, and goes.
    EXPECT_TRUE(Logged(
        Pd::Core::FormatText(Pd::TextId::PeldraFilesNoneDeletedPackageGone, via.wstring(), removed->failures.size()),
        Level::Warning));
    EXPECT_EQ(std::vector<fs::path>(fs::recursive_directory_iterator(real), {}), before);
}

TEST_F(Uninstall, KeepingDataRemovesOnlyTheNamedReleaseWithPackageAndFilesOnly)
{
    InstallRelease();
    PdTest::FakeClient client;
    const fs::path data = Pd::Install::TovikDataFolder();
    PdTest::WriteBytes(data / L"LocalState" / L"language_list_for_populated_apps", "de,en");
    PdTest::WriteBytes(data / L"LocalState" / L"user.img", std::string(2048, 'u'));
    SetIcon(data.wstring() + L"\\icon.ico");
    PdTest::WriteBytes(fs::path(setting_.programDataFolder) / L"bluetooth.log", "log");
    Pd::Core::WriteUserDword(L"EnabledDeveloperMode", 1);
    pc_->Write(Scenario(
        R"(, "computeSystems": [{"id": "2B1B9D9E-0A4C-4D3B-9E8F-7A6B5C4D3E2F", "owner": "TovikAndroid"}])"));
    // Asked for another folder, the run leaves the registered one: anything of the user can
    // register a package from any folder, so its install location is only named.
    const fs::path elsewhere = scratch_.Path() / L"Elsewhere";
    fs::create_directories(elsewhere);
    EXPECT_FALSE(Remove(elsewhere, Removal::KeepData));
    EXPECT_TRUE(Pd::Install::FindInstalledPackage() && fs::exists(folder_ / L"peldra.json") &&
                hostCalls_.empty());
    progress_.clear();

    // Named, it goes with its package and files only.
    auto outcome = Remove(folder_, Removal::KeepData);
    ASSERT_TRUE(outcome) << Pd::Core::ToUtf8(outcome.error());
    EXPECT_TRUE(outcome->failures.empty());
    EXPECT_FALSE(Pd::Install::FindInstalledPackage());
    // Wine sometimes still holds the folder as the ended client's current folder for a moment, so
    // the emptied folder may stay here (sharing violation); Windows lets it go with the process.
    EXPECT_TRUE(!fs::exists(folder_) || fs::is_empty(folder_));
    EXPECT_TRUE(Pd::Install::FindTovikSettingsShortcuts().empty());
    // The Android data stays, without the language list that a new install fills again; Windows
    // keeps the rest.
    PdTest::ExpectPaths({program_.defaultFolder, data / L"LocalState" / L"language_list_for_populated_apps"},
                        false);
    PdTest::ExpectPaths({elsewhere, data / L"LocalState" / L"user.img", setting_.programDataFolder});
    EXPECT_TRUE(Logged(L"Tovik package removed. Android data kept in " + data.wstring() + L" (2.0 KB).",
                       Level::Success));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, UninstallKey));
    EXPECT_TRUE(PdTest::DeveloperModeSetting::On());
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, Pd::Core::SettingsKey));
    EXPECT_EQ(Stages(), (std::vector<std::wstring>{L"Checking Windows", L"Removing Tovik from Windows",
                                                   L"Deleting files", L"Done"}));
    EXPECT_EQ(hostCalls_, (std::vector<std::wstring>{L"stop host", L"remove task"}));
    // Tovik was running: it was asked to shut down from its folder before its package went.
    EXPECT_TRUE(Logged(L"Shutting Tovik down.", Level::Info));
    const auto starts = client.Starts(1);
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_TRUE(starts[0].commandLine.ends_with(L" /shutdown")) << Pd::Core::ToUtf8(starts[0].commandLine);
}

TEST_F(Uninstall, FolderWithoutReleaseIsRefusedUnlessEverythingIsToGo)
{
    Pc();
    PdTest::WriteBytes(folder_ / L"mine.txt", "the user's");
    auto refused = Remove(folder_, Removal::KeepData);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), L"Peldra is not installed in " + folder_.wstring() + L".");
    EXPECT_TRUE(hostCalls_.empty()) << "nothing is changed";

    auto everything = Remove(folder_, Removal::Everything);
    ASSERT_TRUE(everything) << Pd::Core::ToUtf8(everything.error());
    EXPECT_EQ(PdTest::ReadBytes(folder_ / L"mine.txt"), "the user's");
    EXPECT_TRUE(Logged(folder_.wstring() + L" still holds files Peldra did not install: the folder stays.",
                       Level::Warning));

    // An empty folder, as an install cut off at its start leaves it: the one the user named stays
    // and the message says so; the default install folder, which only an install makes, goes.
    const fs::path empty = scratch_.Path() / L"Empty";
    fs::create_directories(empty);
    fs::create_directories(setting_.defaultFolder.Path());
    hostCalls_.clear();
    refused = Remove(empty, Removal::KeepData);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(),
              Pd::Core::FormatText(Pd::TextId::NotInstalledEmptyFolderStays, empty.wstring()));
    EXPECT_TRUE(fs::is_directory(empty));
    auto removed = Remove(setting_.defaultFolder.Path(), Removal::KeepData);
    ASSERT_TRUE(removed) << Pd::Core::ToUtf8(removed.error());
    EXPECT_TRUE(removed->failures.empty());
    EXPECT_FALSE(fs::exists(setting_.defaultFolder.Path()));
    EXPECT_TRUE(
        Logged(Pd::Core::FormatText(Pd::TextId::RemovedEmptyCutOffFolder, setting_.defaultFolder.Path()),
               Level::Success));
    EXPECT_TRUE(hostCalls_.empty()) << "nothing else is changed";
}

// The state file goes last: an uninstall cut off after the release files is finished by the next
// one. One of an older version, which deleted the state file first, is finished from what is left
// in the folder; with everything to go, files that no record names are a failure that names the
// folder. The settings shortcut alone, with nothing in the folder, is no evidence: nothing changes,
// and the empty folder stays with a message that says so.
TEST_F(Uninstall, AnUninstallCutOffIsFinishedByTheNextOne)
{
    const std::wstring unrecorded =
        folder_.wstring() + L" still holds files, and no record of the install tells which of them are "
                            L"Peldra's: check the folder and delete Peldra's files yourself.";
    // State file deleted by the older version; a release file it had not deleted yet.
    for (const auto& [stateDeleted, releaseLeft] : {std::pair{false, false}, {true, false}, {true, true}})
    {
        SCOPED_TRACE(testing::Message() << stateDeleted << releaseLeft);
        InstallRelease();
        Pd::Core::RemovalOutcome cutOff;
        Pd::Core::Detail::RemoveReleaseFilesWith(PdTest::InFolder(folder_),
                                                 Pd::Core::ReadState(PdTest::InFolder(folder_)), Callbacks(),
                                                 cutOff, false, setting_);
        ASSERT_TRUE(cutOff.failures.empty() && fs::exists(folder_ / L"peldra.json"));
        if (stateDeleted)
        {
            fs::remove(folder_ / L"peldra.json");
            ASSERT_TRUE(Pd::Install::RemovePackage(Pd::Install::FindInstalledPackage()->fullName, true));
        }
        if (releaseLeft)
            PdTest::WriteBytes(folder_ / L"release.json", "what the older version left");

        hostCalls_.clear();
        auto finished = Remove(folder_, releaseLeft ? Removal::Everything : Removal::KeepData);
        if (stateDeleted && !releaseLeft)
        {
            ASSERT_FALSE(finished);
            EXPECT_EQ(finished.error(),
                      Pd::Core::FormatText(Pd::TextId::NotInstalledEmptyFolderStays, folder_.wstring()));
            EXPECT_TRUE(hostCalls_.empty());
            EXPECT_EQ(Pd::Install::FindTovikSettingsShortcuts().size(), 1u);
            EXPECT_TRUE(fs::is_directory(folder_));
            fs::remove_all(folder_);
            continue;
        }
        ASSERT_TRUE(finished) << Pd::Core::ToUtf8(finished.error());
        EXPECT_FALSE(Pd::Install::FindInstalledPackage());
        EXPECT_TRUE(Pd::Install::FindTovikSettingsShortcuts().empty());
        EXPECT_EQ(finished->failures, releaseLeft ? std::vector{unrecorded} : std::vector<std::wstring>{});
        EXPECT_EQ(fs::exists(folder_), releaseLeft);
        fs::remove_all(folder_);
        ASSERT_FALSE(Remove(folder_, Removal::KeepData)) << "nothing is left to finish";
    }
}

// The folders the first install created go when empty, from the install folder up; one the user
// had, and everything above it, stays. The program's folder goes too, even where an install cut off
// made it and copied nothing into it.
TEST_F(Uninstall, FoldersTheInstallCreatedGoWhenEmptyThoseTheUserHadStay)
{
    const fs::path programme = scratch_.Path() / L"Programme";
    struct Case
    {
        const char* what;
        bool userHadFolder;
        bool userFileAbove;
        bool programNotCopied = false;
    };
    for (const Case& c :
         {Case{"all created", false, false}, Case{"a user's file above", false, true},
          Case{"the user's folder", true, false}, Case{"program not copied", false, false, true}})
    {
        folder_ = programme / L"\u00DCbung" / L"Tovik";
        if (c.userHadFolder)
            fs::create_directories(folder_);
        InstallRelease();
        if (c.userFileAbove)
            PdTest::WriteBytes(programme / L"mine.txt", "the user's");
        if (c.programNotCopied)
            for (const auto& entry : fs::directory_iterator(program_.defaultFolder))
                fs::remove_all(entry.path());
        auto outcome = Remove(folder_, Removal::KeepData);
        ASSERT_TRUE(outcome) << c.what << ": " << Pd::Core::ToUtf8(outcome.error());
        EXPECT_TRUE(outcome->failures.empty()) << c.what;
        EXPECT_EQ(fs::exists(folder_), c.userHadFolder) << c.what;
        EXPECT_EQ(fs::exists(folder_.parent_path()), c.userHadFolder) << c.what;
        EXPECT_EQ(fs::exists(programme), c.userHadFolder || c.userFileAbove) << c.what;
        EXPECT_TRUE(fs::exists(scratch_.Path()));
        EXPECT_FALSE(fs::exists(program_.defaultFolder)) << c.what;
        fs::remove_all(programme);
    }
}

TEST_F(Uninstall, PackageRemovalFailureEndsTheRunAfterTheTask)
{
    InstallRelease();
    pc_->Write(Scenario(R"(, "deploymentFailures": {"remove": "0x80073CFA"})"));
    auto outcome = Remove(folder_, Removal::Everything);
    ASSERT_FALSE(outcome);
    EXPECT_TRUE(outcome.error().starts_with(L"Removing the Tovik package: "))
        << Pd::Core::ToUtf8(outcome.error());
    EXPECT_EQ(hostCalls_, (std::vector<std::wstring>{L"stop host", L"remove task"}));
    EXPECT_TRUE(fs::exists(folder_ / L"peldra.json"));
    EXPECT_TRUE(Pd::Install::FindInstalledPackage());
}

// Entries tied to Tovik only by lying in the folder never go for a folder that no state file proves
// to be the program's, or for one of Windows' own. (The shortcuts go to the Start menu's programs
// folder: Wine's desktop folder is the Unix home folder, which tests must not touch.)
TEST_F(Uninstall, ShortcutsAreMatchedByFolderOnlyInAProvenFolderThatIsNoSystemFolder)
{
    Pc();
    const fs::path programs = Pd::Install::KnownFolderPath(FOLDERID_Programs);
    const std::vector<std::pair<fs::path, fs::path>> cases = {
        {L"C:\\", L"C:\\PdTestTools\\tool.exe"}, // a drive root given by mistake
        {folder_, folder_ / L"mine.exe"},        // no state file
        {programs, programs / L"notes.txt"},     // a state file, but a folder of Windows
    };
    ASSERT_TRUE(Pd::Core::WriteState(PdTest::InFolder(programs), Pd::Core::InstallState{}));
    fs::create_directories(folder_);
    for (std::size_t i = 0; i < cases.size(); ++i)
        PdTest::MakeShortcut(programs / (L"PdTest " + std::to_wstring(i) + L".lnk"),
                             cases[i].second.wstring());
    for (std::size_t i = 0; i < cases.size(); ++i)
    {
        auto outcome = Remove(cases[i].first, Removal::Everything);
        EXPECT_TRUE(outcome) << Pd::Core::ToUtf8(outcome.error());
        EXPECT_TRUE(
            Logged(L"Windows entries of Tovik removed: 0 shortcuts, 0 registry keys, 0 registry values.",
                   Level::Success))
            << cases[i].first.string();
    }
    for (std::size_t i = 0; i < cases.size(); ++i)
    {
        const fs::path shortcut = programs / (L"PdTest " + std::to_wstring(i) + L".lnk");
        EXPECT_TRUE(fs::exists(shortcut)) << cases[i].first.string();
        ::DeleteFileW(shortcut.c_str());
    }
    ::DeleteFileW((programs / L"peldra.json").c_str());
    EXPECT_TRUE(fs::exists(programs));
}

// Forgetting the language list deletes that one file, never what a link planted as the data
// folder's LocalState or as the file itself leads to.
TEST(LanguageList, IsForgottenOnlyInTheDataFolderItself)
{
    PdTest::ScratchFolder scratch;
    const fs::path data = scratch.Path() / L"Packages" / L"Tovik";
    const fs::path outside = scratch.Path() / L"outside";
    const std::wstring name = L"language_list_for_populated_apps";
    PdTest::WriteBytes(outside / name, "de,en");
    PdTest::UnixLinks links;
    for (const fs::path& link : {data / L"LocalState", data / L"LocalState" / name})
    {
        fs::create_directories(link.parent_path());
        ASSERT_TRUE(
            links.Make((link.filename() == name ? outside / name : outside).wstring(), link.wstring()));
        Pd::Core::ForgetLanguageList(data.wstring());
        EXPECT_EQ(PdTest::ReadBytes(outside / name), "de,en") << link.string();
        ASSERT_TRUE(PdTest::RemoveUnixLink(link.wstring()));
    }
    PdTest::WriteBytes(data / L"LocalState" / name, "de,en");
    Pd::Core::ForgetLanguageList(data.wstring());
    EXPECT_FALSE(fs::exists(data / L"LocalState" / name));
    EXPECT_TRUE(fs::exists(outside / name));
}

TEST(SystemFolders, RootsWindowsFoldersAndTheirParentsAreNoInstallFolders)
{
    const std::vector<std::wstring> system = {L"C:\\Windows", L"C:\\Program Files",
                                              L"C:\\Users\\ann\\Desktop"};
    for (const wchar_t* folder : {L"C:\\", L"D:\\", L"c:\\program files\\", L"C:\\Users", L"C:\\Users\\Ann",
                                  L"C:\\Users\\ann\\Desktop\\."})
        EXPECT_TRUE(Pd::Core::Detail::IsSystemFolderAmong(folder, system)) << Pd::Core::ToUtf8(folder);
    for (const wchar_t* folder : {L"C:\\Program Files\\Peldra", L"C:\\Users\\ann\\Desktop\\Tovik",
                                  L"D:\\Apps\\Peldra", L"C:\\Program Files Extra"})
        EXPECT_FALSE(Pd::Core::Detail::IsSystemFolderAmong(folder, system)) << Pd::Core::ToUtf8(folder);
    EXPECT_TRUE(Pd::Core::IsSystemFolder(Pd::Install::KnownFolderPath(FOLDERID_ProgramFiles)));
    EXPECT_FALSE(Pd::Core::IsSystemFolder(Pd::Install::KnownFolderPath(FOLDERID_ProgramFiles) + L"\\Peldra"));
}

// A release folder with a state file but without this account's registration from it.
class UnregisteredFolder : public Uninstall
{
protected:
    void WriteRelease()
    {
        Pd::Core::InstallState state;
        state.version = L"3.0.0";
        state.components[L"app"] = std::wstring(64, L'a');
        state.entries[L"app"] = {L"AppxManifest.xml", L"assets"};
        fs::create_directories(folder_);
        ASSERT_TRUE(Pd::Core::WriteState(PdTest::InFolder(folder_), state));
        PdTest::WriteBytes(folder_ / L"AppxManifest.xml", "<Package/>");
        PdTest::WriteBytes(folder_ / L"assets" / L"logo.txt", "logo");
        PdTest::WriteBytes(fs::path(program_.defaultFolder) / L"Magisk" / L"Magisk.apk", "apk");
        PdTest::WriteBytes(Pd::Install::TovikDataFolder() + L"\\LocalState\\user.img", "data");
        SetIcon(Pd::Install::TovikDataFolder() + L"\\i.ico");
        Pd::Core::WriteUserDword(L"EnabledDeveloperMode", 1);
        Pd::Core::WriteUserDword(L"EnabledVirtualMachinePlatform", 1);
        Pd::Core::RecordFeature(Pd::Core::RecordedFeature::DeveloperMode);
        Pd::Core::RecordFeature(Pd::Core::RecordedFeature::VirtualMachinePlatform);
    }
};

// Only the machine's record tells that an install turned a feature on: per-user values alone,
// which any program of the user writes, are shown and turn nothing off.
TEST_F(UnregisteredFolder, FeaturesThatOnlyPerUserValuesNameStayOn)
{
    Pc("", Vmp);
    WriteRelease();
    Pd::Core::ForgetFeature(Pd::Core::RecordedFeature::DeveloperMode);
    Pd::Core::ForgetFeature(Pd::Core::RecordedFeature::VirtualMachinePlatform);
    auto outcome = Remove(folder_, Removal::Everything);
    ASSERT_TRUE(outcome) << Pd::Core::ToUtf8(outcome.error());
    ExpectLogged({Pd::Core::Text(Pd::TextId::DeveloperModeNotRecorded),
                  Pd::Core::Text(Pd::TextId::VirtualMachinePlatformNotRecorded)},
                 Level::Info);
    EXPECT_TRUE(PdTest::DeveloperModeSetting::On());
    EXPECT_EQ(Pd::Core::QueryWindows().virtualMachinePlatform, std::optional<bool>(true));
}

// Tovik registered from another folder is an unpacked app that needs developer mode; one from the
// Store is not. Both keep the feature, the Android data and the Windows entries.
TEST_F(UnregisteredFolder, TovikRegisteredElsewhereStaysWithWhatItNeeds)
{
    for (bool developmentMode : {true, false})
    {
        const std::wstring location =
            developmentMode ? L"C:\\OtherTovik" : L"C:\\Program Files\\WindowsApps\\T";
        Pc(PackagesMember(
               TovikPackage(location, R"("current")", developmentMode ? R"(, "developmentMode": true)" : "")),
           Vmp);
        WriteRelease();
        auto outcome = Remove(folder_, Removal::Everything);
        ASSERT_TRUE(outcome) << Pd::Core::ToUtf8(outcome.error());

        EXPECT_TRUE(Logged(L"Tovik 2.0.0.0 is registered from " + location + L", not by Peldra: it stays.",
                           Level::Warning));
        EXPECT_TRUE(Pd::Install::FindInstalledPackage());
        EXPECT_FALSE(fs::exists(folder_)) << "this folder's release files go";
        EXPECT_TRUE(
            Logged(L"Android data, shortcuts and settings belong to the Tovik that stays registered: kept.",
                   Level::Warning));
        EXPECT_TRUE(fs::exists(Pd::Install::TovikDataFolder()));
        EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, UninstallKey));
        EXPECT_TRUE(
            developmentMode
                ? Logged(L"Developer mode stays on: other unpacked apps need it (Tovik 2.0.0.0).",
                         Level::Info)
                : Logged(L"Developer mode turned off again (Peldra had turned it on).", Level::Success));
        EXPECT_EQ(PdTest::DeveloperModeSetting::On(), developmentMode);
        EXPECT_TRUE(Logged(L"Virtual Machine Platform stays enabled: Tovik 2.0.0.0 uses it.", Level::Info));
        EXPECT_EQ(Pd::Core::QueryWindows().virtualMachinePlatform, std::optional<bool>(true));
        EXPECT_EQ(Stages(), (std::vector<std::wstring>{L"Checking Windows", L"Deleting files",
                                                       L"Removing what Tovik left in Windows", L"Done"}));
    }
}

TEST_F(UnregisteredFolder, AnotherAccountHoldingTovikHereKeepsItsFilesAndFeatures)
{
    Pc(PackagesMember(TovikPackage(folder_.wstring(), PdTest::StrangerUser)), Vmp);
    WriteRelease();
    taskRegistered_ = true;
    auto outcome = Remove(folder_, Removal::Everything);
    ASSERT_TRUE(outcome) << Pd::Core::ToUtf8(outcome.error());

    const std::wstring account = Pd::Core::FromUtf8(PdTest::Stranger);
    EXPECT_TRUE(Logged(L"Tovik is registered for the Windows user " + account + L" from " +
                           folder_.wstring() +
                           L": its files, and what it needs in Windows, stay. Remove it on that account.",
                       Level::Warning));
    EXPECT_EQ(hostCalls_, (std::vector<std::wstring>{L"stop host"})) << "the task stays";
    PdTest::ExpectPaths({folder_ / L"peldra.json", folder_ / L"assets" / L"logo.txt",
                         fs::path(program_.defaultFolder) / L"Magisk" / L"Magisk.apk"});
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, UninstallKey)) << "no Windows entries clean-up";
    ExpectLogged({L"Developer mode stays on: other unpacked apps need it (Tovik (" + account + L")).",
                  L"Virtual Machine Platform stays enabled: Tovik (" + account + L") uses it."},
                 Level::Info);
    EXPECT_TRUE(PdTest::DeveloperModeSetting::On());
}

TEST_F(UnregisteredFolder, AnotherAccountsTovikElsewhereDoesNotHoldThisFolder)
{
    Pc(PackagesMember(TovikPackage(L"C:\\TheirTovik", PdTest::StrangerUser)));
    WriteRelease();
    ASSERT_TRUE(Remove(folder_, Removal::KeepData));
    EXPECT_FALSE(fs::exists(folder_));
    EXPECT_FALSE(fs::exists(fs::path(program_.defaultFolder) / L"Magisk"));
    EXPECT_EQ(hostCalls_, (std::vector<std::wstring>{L"stop host", L"remove task"}));
}

TEST_F(UnregisteredFolder, OtherUnpackedAppsAndWslKeepTheirFeatures)
{
    Pc(PackagesMember(R"({"name": "Contoso.Tool", "publisherId": "abcdefghijklm", "version": "1.0.0.0",
        "installLocation": "C:\\Tool", "developmentMode": true, "users": ["current"]})"),
       Vmp);
    WriteRelease();
    const std::wstring lxss = L"Software\\Microsoft\\Windows\\CurrentVersion\\Lxss\\{pd-test-distribution}";
    ::RegSetKeyValueW(HKEY_CURRENT_USER, lxss.c_str(), L"DistributionName", REG_SZ, L"x", 4);
    auto outcome = Remove(folder_, Removal::Everything);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Lxss");
    ASSERT_TRUE(outcome) << Pd::Core::ToUtf8(outcome.error());
    ExpectLogged({L"Developer mode stays on: other unpacked apps need it (Contoso.Tool).",
                  L"Virtual Machine Platform stays enabled: WSL uses it."},
                 Level::Info);
    EXPECT_TRUE(PdTest::DeveloperModeSetting::On());
    EXPECT_EQ(Pd::Core::QueryWindows().virtualMachinePlatform, std::optional<bool>(true));
}

TEST_F(UnregisteredFolder, OwnInstallerPackageKeepsTheProgramItInstalled)
{
    Pc();
    const fs::path installed = program_.defaultFolder;
    // The release elsewhere: the program in the default folder belongs to the package.
    WriteRelease();
    PdTest::WriteBytes(installed / L"Peldra.exe", "installed by the package");
    ownInstallerPackage_ = true;
    ASSERT_TRUE(Remove(folder_, Removal::KeepData));
    EXPECT_FALSE(fs::exists(folder_));
    EXPECT_TRUE(fs::exists(installed / L"Peldra.exe"));

    // The release in the default folder: the host entry's files stay, the release's go.
    folder_ = installed;
    WriteRelease();
    Pd::Core::InstallState state = Pd::Core::ReadState(PdTest::InFolder(folder_));
    state.entries[L"host"] = {L"Peldra.exe", L"language"};
    ASSERT_TRUE(Pd::Core::WriteState(PdTest::InFolder(folder_), state));
    PdTest::WriteBytes(folder_ / L"language" / L"de.lng", "#name=Deutsch\n");
    ASSERT_TRUE(Remove(folder_, Removal::KeepData));
    EXPECT_EQ(PdTest::ReadBytes(folder_ / L"Peldra.exe"), "installed by the package");
    EXPECT_TRUE(fs::exists(folder_ / L"language" / L"de.lng"));
    PdTest::ExpectPaths({folder_ / L"peldra.json", folder_ / L"assets", folder_ / L"Magisk"}, false);
    for (const auto& line : log_)
        EXPECT_EQ(line.text.find(L"still holds files"), std::wstring::npos) << Pd::Core::ToUtf8(line.text);

    // Without the package, the program copy and its language files go, other files stay.
    ownInstallerPackage_ = false;
    folder_ = scratch_.Path() / L"Tovik";
    WriteRelease();
    PdTest::WriteBytes(installed / L"language" / L"notes.txt", "not ours");
    ASSERT_TRUE(Remove(folder_, Removal::KeepData));
    PdTest::ExpectPaths({installed / L"Peldra.exe", installed / L"language" / L"de.lng"}, false);
    EXPECT_TRUE(fs::exists(installed / L"language" / L"notes.txt"));
}

TEST_F(UnregisteredFolder, NamesFromTheStateFileNeverReachBeyondTheirOwnEntry)
{
    Pc();
    WriteRelease();
    Pd::Core::InstallState state = Pd::Core::ReadState(PdTest::InFolder(folder_));
    state.entries[L"app"] = {L"...",     L"..",         L".",         L"trail.",     L"trail ", L"CON",
                             L"nul.txt", L"..\\victim", L"sub/inner", L"C:mine.txt", L"",       L"assets"};
    PdTest::WriteBytes(folder_ / L"mine.txt", "the user's");
    PdTest::WriteBytes(folder_ / L"trail", "the user's");
    PdTest::WriteBytes(folder_ / L"sub" / L"inner", "the user's");
    PdTest::WriteBytes(scratch_.Path() / L"victim", "outside");
    // A forged state file naming a link planted in the folder, and records through it.
    const fs::path outside = scratch_.Path() / L"outside";
    PdTest::WriteBytes(outside / L"kernel", "outside");
    fs::create_directories(outside / L"empty");
    PdTest::UnixLinks links;
    ASSERT_TRUE(links.Make(outside.wstring(), (folder_ / L"tools").wstring()));
    state.entries[L"app"].push_back(L"tools");
    state.placed[L"system"] = {L"tools\\kernel", L"tools\\empty\\"};
    ASSERT_TRUE(Pd::Core::WriteState(PdTest::InFolder(folder_), state));

    auto outcome = Remove(folder_, Removal::KeepData);
    ASSERT_TRUE(outcome) << Pd::Core::ToUtf8(outcome.error());
    PdTest::ExpectPaths({folder_ / L"assets", folder_ / L"peldra.json"}, false);
    PdTest::ExpectPaths({folder_ / L"mine.txt", folder_ / L"trail", folder_ / L"sub" / L"inner",
                         scratch_.Path() / L"victim", outside / L"kernel", outside / L"empty"});
    EXPECT_TRUE(Logged(folder_.wstring() + L" still holds files Peldra did not install: the folder stays.",
                       Level::Warning));
}

TEST_F(UnregisteredFolder, OlderStateInToviksOwnFolderTakesEverythingInIt)
{
    Pc();
    Pd::Core::InstallState state;
    state.components[L"app"] = std::wstring(64, L'a'); // no entry list: written by an older version
    for (const fs::path& folder : {scratch_.Path() / L"peldra", scratch_.Path() / L"Apps"})
    {
        fs::create_directories(folder);
        ASSERT_TRUE(Pd::Core::WriteState(PdTest::InFolder(folder), state));
        PdTest::WriteBytes(folder / L"AppxManifest.xml",
                           "<Identity Name=\"TovikPackage\" Version=\"1.0.0.0\"/>");
        ASSERT_TRUE(Remove(folder, Removal::KeepData));
    }
    EXPECT_FALSE(fs::exists(scratch_.Path() / L"peldra"));
    const fs::path other = scratch_.Path() / L"Apps";
    EXPECT_TRUE(fs::exists(other / L"AppxManifest.xml"));
    EXPECT_FALSE(fs::exists(other / L"peldra.json"));
    EXPECT_TRUE(
        Logged(other.wstring() +
                   L" was installed by an older Peldra and is not its own folder: only the files known "
                   L"to be Peldra's are deleted.",
               Level::Warning));
}

} // namespace
