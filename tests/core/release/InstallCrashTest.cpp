// An install run killed part-way, in a process of its own (InstallDriver.exe), and then run
// again: what it leaves must let the next run finish, and the installed release stay whole.
#include "core/Handles.h"
#include "core/release/InstallState.h"
#include "tests/core/release/InstallFixture.h"
#include "tests/support/UnixPath.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace
{

namespace fs = std::filesystem;

class InstallCrash : public PdTest::InstallTest
{
protected:
    // Starts the driver, waits until it halts where asked, and kills it.
    void RunAndKill(const std::wstring& release, const wchar_t* halt)
    {
        const std::wstring event = L"Local\\PeldraInstallDriver." + std::to_wstring(::GetCurrentProcessId());
        Pd::UniqueHandle halted(::CreateEventW(nullptr, TRUE, FALSE, event.c_str()));
        ASSERT_TRUE(halted);
        std::wstring commandLine = L"\"" + DriverPath() + L"\" \"" + ManifestUrl(release) + L"\" \"" +
                                   folder_.wstring() + L"\" " + halt + L" " + event;
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION started{};
        ASSERT_TRUE(::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                                     nullptr, nullptr, &startup, &started))
            << ::GetLastError();
        Pd::UniqueHandle process(started.hProcess);
        Pd::UniqueHandle thread(started.hThread);
        HANDLE both[] = {halted.Get(), process.Get()};
        const DWORD which = ::WaitForMultipleObjects(2, both, FALSE, 60'000);
        ::TerminateProcess(process.Get(), 9);
        ::WaitForSingleObject(process.Get(), 10'000);
        ASSERT_EQ(which, WAIT_OBJECT_0) << "the driver ended or hung before it halted";
    }

    static std::wstring DriverPath() { return PdTest::PathFromEnvironment(L"PD_INSTALL_DRIVER").wstring(); }
};

TEST_F(InstallCrash, ARunKilledWhileDownloadingIsResumedAndCompletedByTheNextRun)
{
    Pc(Scenario());
    served_.Rule(L"road/system.zst", R"([{"stallAfter": 65536, "stallMs": 3000}, {}])");
    RunAndKill(L"road", L"download");
    const auto partial = fs::file_size(folder_ / L".download" / L"system.zst");
    EXPECT_GT(partial, 0u);
    EXPECT_LT(partial, Load().components[0].packedSize);
    EXPECT_FALSE(fs::exists(folder_ / L"peldra.json"));

    auto outcome = Install(Load(), Options(false));
    ASSERT_TRUE(outcome) << Pd::Core::ToUtf8(outcome.error());
    EXPECT_EQ(outcome->componentsUpdated, 3);
    const auto requests = served_.Requests(L"road/system.zst");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].range, L"bytes=" + std::to_wstring(partial) + L"-") << "the second run resumed";
    EXPECT_EQ(Pd::Core::ReadState(folder_.wstring()).version, L"3.0.0");
}

TEST_F(InstallCrash, ARunKilledBeforeTheSwitchOverLeavesThePreviousReleaseWhole)
{
    Pc(Scenario());
    ASSERT_TRUE(Install(Load(), Options(false)));
    const Pd::Core::InstallState before = Pd::Core::ReadState(folder_.wstring());
    const std::string kernelBefore = PdTest::ReadBytes(folder_ / L"tools" / L"kernel");
    const std::string releaseBefore = PdTest::ReadBytes(folder_ / L"release.json");

    Serve(L"road-update");
    RunAndKill(L"road-update", L"switch");
    EXPECT_FALSE(Temporaries().empty()) << "the update was staged when it was killed";
    EXPECT_EQ(PdTest::ReadBytes(folder_ / L"tools" / L"kernel"), kernelBefore);
    EXPECT_EQ(PdTest::ReadBytes(folder_ / L"release.json"), releaseBefore);
    EXPECT_EQ(Pd::Core::ReadState(folder_.wstring()), before) << "the state file is the previous one, whole";

    auto outcome = Install(Load(L"road-update"), Options(false));
    ASSERT_TRUE(outcome) << Pd::Core::ToUtf8(outcome.error());
    EXPECT_EQ(PdTest::ReadBytes(folder_ / L"tools" / L"kernel"), "kernel 2\n");
    EXPECT_EQ(Pd::Core::ReadState(folder_.wstring()).version, L"3.1.0");
    EXPECT_TRUE(Temporaries().empty());
}

} // namespace
