// The self-update against the loopback server with installer packages signed at test time, on a
// simulated PC that trusts the test publisher. The full run lets Wine's own cmd and msiexec
// install the package and start a probe program in place of the installed Peldra.
#include "core/release/SelfUpdate.h"

#include "core/Handles.h"
#include "core/release/Folders.h"
#include "core/Sha256.h"
#include "tests/core/release/LoopbackServer.h"
#include "tests/core/release/Msiexec.h"
#include "tests/core/ScratchFolder.h"
#include "tests/support/ProbeProgram.h"
#include "tests/support/SigningFixtures.h"
#include "tests/support/SimScenario.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace
{

namespace fs = std::filesystem;
using Pd::Core::Detail::PackageFileName;

std::wstring Sha256Of(std::string_view bytes)
{
    Pd::Sha256 hasher;
    hasher.Update(bytes);
    return hasher.Finish();
}

TEST(SelfUpdateNaming, PackageIsNamedAfterASafeVersionOnly)
{
    EXPECT_EQ(PackageFileName(L"0.2.0"), L"Peldra-0.2.0.msi");
    EXPECT_EQ(PackageFileName(L"10"), L"Peldra-10.msi");
    EXPECT_EQ(PackageFileName(std::wstring(32, L'1')), L"Peldra-" + std::wstring(32, L'1') + L".msi");
    EXPECT_EQ(PackageFileName(std::wstring(33, L'1')), L"Peldra-update.msi");
    EXPECT_EQ(PackageFileName(L""), L"Peldra-update.msi");
    EXPECT_EQ(PackageFileName(L"0.2.0-beta"), L"Peldra-update.msi");
    EXPECT_EQ(PackageFileName(L"..\\..\\evil"), L"Peldra-update.msi");
    EXPECT_EQ(PackageFileName(L"1 .2"), L"Peldra-update.msi");
}

TEST(SelfUpdateCommand, InstallsPassivelyThenDeletesAndStartsTheProgram)
{
    EXPECT_EQ(Pd::Core::Detail::InstallerCommandLine(
                  L"C:\\Windows\\system32\\cmd.exe", L"C:\\Windows\\system32",
                  L"C:\\P\\.download\\Peldra-0.2.0.msi", L"C:\\P\\.download", L"C:\\P\\Peldra.exe"),
              L"\"C:\\Windows\\system32\\cmd.exe\" /d /s /c \"start \"\" /wait "
              L"\"C:\\Windows\\system32\\msiexec.exe\" "
              L"/i \"C:\\P\\.download\\Peldra-0.2.0.msi\" /passive /norestart & del /f /q "
              L"\"C:\\P\\.download\\Peldra-0.2.0.msi\" & rd \"C:\\P\\.download\" 2>nul & start \"\" "
              L"\"C:\\P\\Peldra.exe\"\"");
}

class SelfUpdate : public PdTest::SigningTest
{
protected:
    void SetUp() override
    {
        PdTest::SigningTest::SetUp();
        ASSERT_TRUE(server_.Server().Running()) << "the release server fixture is not running";
        setting_.defaultFolder = (scratch_.Path() / L"Peldra").wstring();
        // No command processor there: the update stops just before the installer would run.
        setting_.systemFolder = (scratch_.Path() / L"no-system").wstring();
        setting_.stopHost = [this] { calls_.push_back(L"stop host"); };
        setting_.startHost = [this] { calls_.push_back(L"start host"); };
    }

    // Serves a signed fixture package and describes it as the app record of version 0.2.0.
    Pd::Core::AppInfo Serve(const std::wstring& fixture)
    {
        package_ = PdTest::ReadFileBytes(PdTest::SigningFile(fixture));
        server_.Put(L"setup.msi", package_);
        return {L"0.2.0", server_.Url(L"setup.msi"), package_.size(), Sha256Of(package_), L""};
    }

    Pd::Result<> Update(const Pd::Core::AppInfo& app)
    {
        auto result = Pd::Core::Detail::SelfUpdateWith(app, {}, {}, {}, setting_);
        return result;
    }

    fs::path Downloads() const { return fs::path(setting_.defaultFolder) / L".download"; }

    void TearDown() override { Pd::Core::Detail::ReleaseKeptPackage(); }

    Pd::Test::SimScenario trusting_{PdTest::TrustingScenario(PdTest::PublisherPinsOf(L"test"))};
    PdTest::ServedFolder server_;
    PdTest::ScratchFolder scratch_;
    Pd::Core::Detail::SelfUpdateSetting setting_;
    std::vector<std::wstring> calls_;
    std::string package_;
};

TEST_F(SelfUpdate, OlderPackagesGoAndItsOwnPartialDownloadIsResumed)
{
    const Pd::Core::AppInfo app = Serve(L"official.msi");
    for (const wchar_t* name : {L"Peldra-0.1.0.msi", L"Peldra-update.msi", L"peldra-0.0.9.msi",
                                L"Peldra-0.1.0.msi.bak", L"Peldra-0.0.8.MSI", L"Notes.msi"})
        PdTest::WriteBytes(Downloads() / name, "old");
    PdTest::WriteBytes(Downloads() / L"Peldra-0.2.0.msi", package_.substr(0, 1000));

    static_cast<void>(Update(app));
    EXPECT_FALSE(fs::exists(Downloads() / L"Peldra-0.1.0.msi"));
    EXPECT_FALSE(fs::exists(Downloads() / L"Peldra-update.msi"));
    for (const wchar_t* name :
         {L"peldra-0.0.9.msi", L"Peldra-0.1.0.msi.bak", L"Peldra-0.0.8.MSI", L"Notes.msi"})
        EXPECT_TRUE(fs::exists(Downloads() / name)) << fs::path(name).string();
    EXPECT_EQ(PdTest::ReadBytes(Downloads() / L"Peldra-0.2.0.msi"), package_);
    const auto requests = server_.Requests(L"setup.msi");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].range, L"bytes=1000-");
}

TEST_F(SelfUpdate, InstallerThatCannotStartRestartsTheHostAndKeepsThePackage)
{
    auto result = Update(Serve(L"official.msi"));
    ASSERT_FALSE(result);
    EXPECT_TRUE(result.error().starts_with(L"Starting Peldra Setup: ")) << result.error();
    EXPECT_EQ(calls_, (std::vector<std::wstring>{L"stop host", L"start host"}));
    EXPECT_EQ(PdTest::ReadBytes(Downloads() / L"Peldra-0.2.0.msi"), package_);
}

TEST_F(SelfUpdate, PackageOfAnotherPublisherIsDeletedAndNothingStarts)
{
    // (A package changed after signing cannot be shown here: Wine does not check an installer
    // package's streams against its signature.)
    for (const wchar_t* fixture : {L"foreign.msi", L"unsigned.msi"})
    {
        calls_.clear();
        auto result = Update(Serve(fixture));
        ASSERT_FALSE(result) << fs::path(fixture).string();
        EXPECT_EQ(result.error(),
                  L"The downloaded Peldra Setup is not signed by Peldra's publisher. It was deleted "
                  L"and not started.")
            << fs::path(fixture).string();
        EXPECT_FALSE(fs::exists(Downloads() / L"Peldra-0.2.0.msi"));
        EXPECT_TRUE(calls_.empty()) << "the host keeps running";
    }
}

TEST_F(SelfUpdate, CancelledDownloadEndsWithItsErrorAndLeavesTheHostAlone)
{
    std::stop_source stop;
    stop.request_stop();
    auto result =
        Pd::Core::Detail::SelfUpdateWith(Serve(L"official.msi"), {}, {}, stop.get_token(), setting_);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), L"Canceled.");
    EXPECT_TRUE(calls_.empty());
}

TEST_F(SelfUpdate, KeptPackageCannotBeDeletedUntilTheNextUpdateTakesTheSlot)
{
    const Pd::Core::AppInfo first = Serve(L"official.msi");
    static_cast<void>(Update(first));
    const fs::path firstPackage = Downloads() / L"Peldra-0.2.0.msi";
    EXPECT_FALSE(::DeleteFileW(firstPackage.c_str())) << "the checked package must not be exchanged";

    Pd::Core::AppInfo second = first;
    second.version = L"0.3.0";
    static_cast<void>(Update(second));
    // The clean-up ran while the first one was still held; afterwards it is free.
    EXPECT_TRUE(::DeleteFileW(firstPackage.c_str()));
    EXPECT_FALSE(::DeleteFileW((Downloads() / L"Peldra-0.3.0.msi").c_str()));
}

TEST_F(SelfUpdate, InstallsThePackageAndStartsTheInstalledProgram)
{
    const fs::path installedProgram = fs::path(setting_.defaultFolder) / L"Peldra.exe";
    ASSERT_TRUE(PdTest::PlaceProbe(installedProgram));
    setting_.systemFolder = Pd::Core::SystemFolder();
    const fs::path installedFile = L"C:\\Program Files\\PeldraTest\\readme.txt";
    PdTest::RunMsiexec(L"/x \"" + PdTest::SigningFile(L"official.msi") + L"\"");
    ASSERT_FALSE(fs::exists(installedFile));

    ASSERT_TRUE(Update(Serve(L"official.msi")));
    EXPECT_EQ(calls_, (std::vector<std::wstring>{L"stop host"}));
    const auto started = PdTest::WaitForProbeRecord(installedProgram, std::chrono::seconds(90));
    ASSERT_TRUE(started) << "the installed program was not started";
    EXPECT_TRUE(fs::exists(installedFile)) << "the package was not installed before the program started";
    // This process still holds the package, so the command could not delete it: as long as the
    // caller has not ended, the checked package stays as it was.
    EXPECT_EQ(PdTest::ReadBytes(Downloads() / L"Peldra-0.2.0.msi"), package_);

    EXPECT_EQ(PdTest::RunMsiexec(L"/x \"" + PdTest::SigningFile(L"official.msi") + L"\""), 0u);
}

} // namespace
