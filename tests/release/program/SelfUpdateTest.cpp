// The program's own installer package: found by its upgrade code and removed, and the
// self-update through it, against the loopback server with installer packages signed at test
// time, on a simulated PC that trusts the test publisher. The full run lets Wine's own cmd and
// msiexec install the package and start a probe program in place of the installed Peldra.
#include "release/program/SelfUpdate.h"
#include "release/program/InstalledMsi.h"

#include "release/folders/Folders.h"
#include "tests/core/ScratchFolder.h"
#include "tests/release/Helpers.h"
#include "tests/release/LoopbackServer.h"
#include "tests/support/HangLimit.h"
#include "tests/support/ProbeProgram.h"
#include "tests/support/SigningFixtures.h"
#include "tests/support/SimScenario.h"

#include <gtest/gtest.h>
#include <msi.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace
{

namespace fs = std::filesystem;
using Pd::Core::Detail::PackageFileName;
using namespace std::chrono_literals;

class InstalledMsi : public PdTest::SigningTest
{
};

// The package name Windows Installer recorded for a product, to tell which package it came from.
std::wstring PackageNameOf(const std::wstring& product)
{
    wchar_t name[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    ::MsiGetProductInfoW(product.c_str(), INSTALLPROPERTY_PACKAGENAME, name, &size);
    return name;
}

TEST_F(InstalledMsi, OnlyTheProgramsUpgradeCodeIsFoundAndItsUninstallRemovesIt)
{
    // A package left by an earlier, interrupted run would hide the "not installed" case.
    if (auto left = Pd::Install::FindInstalledMsi())
        PdTest::RunMsiexec(L"/x " + *left);
    ASSERT_EQ(PdTest::RunMsiexec(L"/i \"" + PdTest::SigningFile(L"unsigned.msi") + L"\""), 0u);
    // Under load the program's own package has been seen here once in a while before this test
    // installed it (from where is not known): what counts is that the package of another upgrade
    // code is never taken for the program's.
    if (const auto found = Pd::Install::FindInstalledMsi())
    {
        EXPECT_NE(PackageNameOf(*found), L"unsigned.msi") << "another upgrade code";
    }
    PdTest::RunMsiexec(L"/x \"" + PdTest::SigningFile(L"unsigned.msi") + L"\"");

    ASSERT_EQ(PdTest::RunMsiexec(L"/i \"" + PdTest::SigningFile(L"program.msi") + L"\""), 0u);
    const auto product = Pd::Install::FindInstalledMsi();
    ASSERT_TRUE(product.has_value());
    EXPECT_EQ(product->size(), 38u);
    EXPECT_TRUE(product->starts_with(L"{") && product->ends_with(L"}"));
    EXPECT_EQ(PackageNameOf(*product), L"program.msi");

    // The uninstall is started, not waited for.
    ASSERT_TRUE(Pd::Install::StartMsiUninstall(*product, false));
    EXPECT_TRUE(Pd::Test::PollUntil([] { return !Pd::Install::FindInstalledMsi(); }))
        << "Windows Installer did not remove the package";
}

TEST(SelfUpdateNaming, PackageIsNamedAfterASafeVersionOnly)
{
    EXPECT_EQ(PackageFileName(L"0.2.0"), L"Peldra-0.2.0.msi");
    EXPECT_EQ(PackageFileName(std::wstring(32, L'1')), L"Peldra-" + std::wstring(32, L'1') + L".msi");
    for (const std::wstring& unsafe : {std::wstring(33, L'1'), std::wstring(), std::wstring(L"0.2.0-beta"),
                                       std::wstring(L"..\\..\\evil"), std::wstring(L"1 .2")})
        EXPECT_EQ(PackageFileName(unsafe), L"Peldra-update.msi") << Pd::Core::ToUtf8(unsafe);
}

TEST(InstallerCommands, UninstallRunsPassivelyAndRemovesTheDataOnlyWhenAsked)
{
    const std::wstring product = L"{11111111-2222-3333-4444-555555555555}";
    EXPECT_EQ(Pd::Install::Detail::MsiUninstallCommandLine(L"C:\\W\\msiexec.exe", product, false),
              L"\"C:\\W\\msiexec.exe\" /x " + product + L" /passive");
    EXPECT_EQ(Pd::Install::Detail::MsiUninstallCommandLine(L"C:\\W\\msiexec.exe", product, true),
              L"\"C:\\W\\msiexec.exe\" /x " + product + L" /passive REMOVEDATA=1");
}

class SelfUpdate : public PdTest::SigningTest
{
protected:
    void SetUp() override
    {
        PdTest::SigningTest::SetUp();
        ASSERT_TRUE(PdTest::LoopbackServer::Get().Running()) << "the release server fixture is not running";
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
        return {L"0.2.0", server_.Url(L"setup.msi"), package_.size(), PdTest::Sha256Of(package_), L""};
    }

    Pd::Result<> Update(const Pd::Core::AppInfo& app, std::stop_token stop = {})
    {
        return Pd::Core::Detail::SelfUpdateWith(app, {}, {}, stop, setting_);
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

TEST_F(SelfUpdate, OlderPackagesGoItsOwnIsResumedAndAnInstallerThatCannotStartRestartsTheHost)
{
    const Pd::Core::AppInfo app = Serve(L"official.msi");
    for (const wchar_t* name : {L"Peldra-0.1.0.msi", L"Peldra-update.msi", L"peldra-0.0.9.msi",
                                L"Peldra-0.1.0.msi.bak", L"Peldra-0.0.8.MSI", L"Notes.msi"})
        PdTest::WriteBytes(Downloads() / name, "old");
    PdTest::WriteBytes(Downloads() / L"Peldra-0.2.0.msi", package_.substr(0, 1000));

    auto result = Update(app);
    EXPECT_TRUE(PdTest::ErrorOf(result).starts_with(L"Starting Peldra Setup: ")) << PdTest::ErrorOf(result);
    EXPECT_EQ(calls_, (std::vector<std::wstring>{L"stop host", L"start host"}));
    EXPECT_FALSE(fs::exists(Downloads() / L"Peldra-0.1.0.msi"));
    EXPECT_FALSE(fs::exists(Downloads() / L"Peldra-update.msi"));
    for (const wchar_t* name :
         {L"peldra-0.0.9.msi", L"Peldra-0.1.0.msi.bak", L"Peldra-0.0.8.MSI", L"Notes.msi"})
        EXPECT_TRUE(fs::exists(Downloads() / name)) << fs::path(name).string();
    EXPECT_EQ(PdTest::ReadBytes(Downloads() / L"Peldra-0.2.0.msi"), package_) << "the package is kept";
    const auto requests = server_.Requests(L"setup.msi");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].range, L"bytes=1000-");
}

// (A package changed after signing cannot be shown here: Wine does not check an installer
// package's streams against its signature.)
TEST_F(SelfUpdate, PackageOfAnotherPublisherIsDeletedAndACancelledDownloadEndsAndNothingStarts)
{
    const std::wstring foreign =
        L"The downloaded Peldra Setup is not signed by Peldra's publisher. It was deleted and not started.";
    std::stop_source stopped;
    stopped.request_stop();
    struct Case
    {
        const wchar_t* fixture;
        std::stop_token stop;
        std::wstring error;
    };
    for (const Case& c : {Case{L"foreign.msi", {}, foreign}, Case{L"unsigned.msi", {}, foreign},
                          Case{L"official.msi", stopped.get_token(), L"Canceled."}})
    {
        EXPECT_EQ(PdTest::ErrorOf(Update(Serve(c.fixture), c.stop)), c.error) << fs::path(c.fixture).string();
        if (c.error == foreign)
        {
            EXPECT_FALSE(fs::exists(Downloads() / L"Peldra-0.2.0.msi")) << fs::path(c.fixture).string();
        }
        EXPECT_TRUE(calls_.empty()) << "the host keeps running";
    }
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

    // A variable the user's programs could set reaches neither cmd, msiexec nor what they start.
    ::SetEnvironmentVariableW(L"PD_PLANTED", L"1");
    const bool updated = Update(Serve(L"official.msi")).has_value();
    ::SetEnvironmentVariableW(L"PD_PLANTED", nullptr);
    ASSERT_TRUE(updated);
    EXPECT_EQ(calls_, (std::vector<std::wstring>{L"stop host"}));
    const auto started = PdTest::WaitForProbeRecord(installedProgram);
    ASSERT_TRUE(started) << "the installed program was not started";
    wchar_t windows[MAX_PATH] = {};
    ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
    const auto& environment = started->environment;
    EXPECT_NE(std::find(environment.begin(), environment.end(), L"TEMP=" + std::wstring(windows) + L"\\Temp"),
              environment.end());
    EXPECT_EQ(std::find(environment.begin(), environment.end(), L"PD_PLANTED=1"), environment.end());
    EXPECT_TRUE(fs::exists(installedFile)) << "the package was not installed before the program started";
    // This process still holds the package, so the command could not delete it: as long as the
    // caller has not ended, the checked package stays as it was.
    EXPECT_EQ(PdTest::ReadBytes(Downloads() / L"Peldra-0.2.0.msi"), package_);

    EXPECT_EQ(PdTest::RunMsiexec(L"/x \"" + PdTest::SigningFile(L"official.msi") + L"\""), 0u);
}

} // namespace
