// The installer invocations. Wine lists no sessions and lets any process take any session's
// token, so the session and token choices are driven through their own functions with sessions
// of the test's making and this process's own tokens; the hosts are threads of the test holding
// named mutexes, and the uninstall's child is the probe program.
#include "core/release/InstallerModes.h"

#include "core/release/Folders.h"
#include "core/release/InstalledMsi.h"
#include "core/release/Packages.h"
#include "tests/core/release/Msiexec.h"
#include "tests/core/ScratchFolder.h"
#include "tests/support/ProbeProgram.h"
#include "tests/support/SigningFixtures.h"

#include <sddl.h>

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace
{

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Pd::Install::Detail::SessionAccess;

// A background host as far as the stop is concerned: it holds its mutex and, once its Stop event
// is set, lets go of it after a delay, by releasing it or by ending without releasing it.
class FakeHost
{
public:
    enum class Ending
    {
        Release,
        Abandon,
    };

    FakeHost(const std::wstring& name, std::chrono::milliseconds delay, Ending ending = Ending::Release,
             bool withStopEvent = true)
    {
        if (withStopEvent)
            stop_.Reset(::CreateEventW(nullptr, TRUE, FALSE, (name + L".Stop").c_str()));
        Pd::UniqueHandle ready(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        thread_ = std::thread([this, name, delay, ending, ready = ready.Get()] {
            Pd::UniqueHandle mutex(::CreateMutexW(nullptr, TRUE, name.c_str()));
            ::SetEvent(ready);
            HANDLE waits[] = {stop_ ? stop_.Get() : quit_.Get(), quit_.Get()};
            if (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 && stop_)
            {
                stopAsked_ = true;
                ::Sleep(static_cast<DWORD>(delay.count()));
            }
            if (ending == Ending::Release)
                ::ReleaseMutex(mutex.Get());
        });
        ::WaitForSingleObject(ready.Get(), 10000);
    }
    ~FakeHost()
    {
        ::SetEvent(quit_.Get());
        thread_.join();
    }

    bool StopAsked() const { return stopAsked_; }

private:
    Pd::UniqueHandle stop_;
    Pd::UniqueHandle quit_{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::atomic<bool> stopAsked_{false};
    std::thread thread_;
};

std::wstring UniqueName(const wchar_t* host)
{
    return L"Local\\PdTest." + std::to_wstring(::GetCurrentProcessId()) + L"." + host;
}

TEST(StopHosts, NoHostRunningEndsAtOnceWithNothingLate)
{
    EXPECT_FALSE(Pd::Install::Detail::StopHostsNamed({UniqueName(L"none1"), UniqueName(L"none2")}, 10000));
}

TEST(StopHosts, HostsThatStopInTimeAreNotLate)
{
    FakeHost first(UniqueName(L"a"), 50ms);
    FakeHost abandoning(UniqueName(L"b"), 50ms, FakeHost::Ending::Abandon);
    EXPECT_FALSE(Pd::Install::Detail::StopHostsNamed({UniqueName(L"a"), UniqueName(L"b")}, 10000));
    EXPECT_TRUE(first.StopAsked());
    EXPECT_TRUE(abandoning.StopAsked());
}

TEST(StopHosts, OneDeadlineForAllMakesTheSlowHostLate)
{
    FakeHost quick(UniqueName(L"quick"), 100ms);
    FakeHost slow(UniqueName(L"slow"), 1500ms);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(Pd::Install::Detail::StopHostsNamed({UniqueName(L"quick"), UniqueName(L"slow")}, 400));
    // The slow host's wait ends at the shared deadline, not a full wait after the quick host stopped.
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1200ms);
    EXPECT_TRUE(quick.StopAsked());
    EXPECT_TRUE(slow.StopAsked());
}

TEST(StopHosts, HostWithoutStopEventIsSkipped)
{
    FakeHost deaf(UniqueName(L"deaf"), 0ms, FakeHost::Ending::Release, false);
    EXPECT_FALSE(Pd::Install::Detail::StopHostsNamed({UniqueName(L"deaf")}, 10000));
}

TEST(StopHosts, SessionNamesReachTheHostOfThatSession)
{
    EXPECT_EQ(Pd::Install::Detail::SessionHostMutexName(3), L"Global\\Session\\3\\Peldra.Host");
    // Under Wine every process runs in session 1, where "Local\" names live.
    DWORD session = 0;
    ASSERT_TRUE(::ProcessIdToSessionId(::GetCurrentProcessId(), &session));
    FakeHost host(L"Local\\Peldra.Host", 50ms);
    EXPECT_FALSE(
        Pd::Install::Detail::StopHostsNamed({Pd::Install::Detail::SessionHostMutexName(session)}, 10000));
    EXPECT_TRUE(host.StopAsked());
}

// This process's token as a primary token, or its linked limited token.
Pd::UniqueHandle OwnToken(bool limited = false)
{
    Pd::UniqueHandle process;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ALL_ACCESS, process.Put()))
        return {};
    if (limited)
    {
        TOKEN_LINKED_TOKEN linked{};
        DWORD size = 0;
        if (!::GetTokenInformation(process.Get(), TokenLinkedToken, &linked, sizeof(linked), &size))
            return {};
        return Pd::UniqueHandle(linked.LinkedToken);
    }
    Pd::UniqueHandle primary;
    if (!::DuplicateTokenEx(process.Get(), MAXIMUM_ALLOWED, nullptr, SecurityImpersonation, TokenPrimary,
                            primary.Put()))
        return {};
    return primary;
}

TOKEN_ELEVATION_TYPE ElevationType(HANDLE token)
{
    TOKEN_ELEVATION_TYPE type{};
    DWORD size = 0;
    ::GetTokenInformation(token, TokenElevationType, &type, sizeof(type), &size);
    return type;
}

// Sessions of the test's making: id -> active; the user's token in every session.
SessionAccess Sessions(std::vector<std::pair<DWORD, bool>> sessions, bool limited = false)
{
    std::map<DWORD, bool> active(sessions.begin(), sessions.end());
    std::vector<DWORD> ids;
    for (const auto& [id, isActive] : sessions)
        ids.push_back(id);
    return {[ids] { return ids; }, [active](DWORD id) { return active.at(id); },
            [limited](DWORD) { return OwnToken(limited); }};
}

class UserToken : public ::testing::Test
{
protected:
    Pd::UniqueHandle Find(const std::wstring& sid, const SessionAccess& access)
    {
        Pd::UniqueLocal user;
        EXPECT_TRUE(::ConvertStringSidToSidW(sid.c_str(), reinterpret_cast<PSID*>(user.Put())));
        return Pd::Install::Detail::FindUserTokenWith(static_cast<PSID>(user.Get()), session_, access);
    }

    const std::wstring me_ = Pd::Install::CurrentUserSid();
    DWORD session_ = 0;
};

TEST_F(UserToken, ActiveSessionWinsOverAnEarlierDisconnectedOne)
{
    ASSERT_FALSE(me_.empty());
    EXPECT_TRUE(Find(me_, Sessions({{4, false}, {7, true}, {9, true}})));
    EXPECT_EQ(session_, 7u);
}

TEST_F(UserToken, DisconnectedSessionServesWhenNoneIsActive)
{
    EXPECT_TRUE(Find(me_, Sessions({{5, false}, {6, false}})));
    EXPECT_EQ(session_, 5u);
}

TEST_F(UserToken, OtherUsersSessionsGiveNoToken)
{
    session_ = 99;
    EXPECT_FALSE(Find(L"S-1-5-18", Sessions({{1, true}, {2, false}})));
    EXPECT_FALSE(Find(me_, Sessions({})));
    EXPECT_EQ(session_, 99u);
}

TEST_F(UserToken, SessionWithoutTokenIsPassedOver)
{
    SessionAccess access = Sessions({{3, true}, {8, true}});
    access.userToken = [](DWORD id) { return id == 3 ? Pd::UniqueHandle() : OwnToken(); };
    EXPECT_TRUE(Find(me_, access));
    EXPECT_EQ(session_, 8u);
}

TEST_F(UserToken, SplitAdministratorGetsTheFullToken)
{
    Pd::UniqueHandle limited = OwnToken(true);
    ASSERT_TRUE(limited);
    ASSERT_EQ(ElevationType(limited.Get()), TokenElevationTypeLimited);

    Pd::UniqueHandle token = Find(me_, Sessions({{1, true}}, true));
    ASSERT_TRUE(token);
    EXPECT_EQ(ElevationType(token.Get()), TokenElevationTypeFull);
    // A full token is not exchanged.
    Pd::UniqueHandle full = OwnToken();
    const HANDLE before = full.Get();
    EXPECT_EQ(Pd::Install::Detail::FullToken(std::move(full)).Get(), before);
}

TEST(UninstallAsUser, CommandLineCarriesTheWordsAndRemoveEverything)
{
    using Pd::Install::Detail::UserUninstallCommandLine;
    EXPECT_EQ(UserUninstallCommandLine(L"C:\\Program Files\\Peldra\\Peldra.exe", false),
              L"\"C:\\Program Files\\Peldra\\Peldra.exe\" uninstall --yes --from-setup");
    EXPECT_EQ(UserUninstallCommandLine(L"C:\\P\\Peldra.exe", true),
              L"\"C:\\P\\Peldra.exe\" uninstall --yes --from-setup --all");
}

TEST(UninstallAsUser, InvalidSidAndMissingTokenHaveTheirOwnCodes)
{
    using Pd::Install::Detail::RunUninstallWith;
    const SessionAccess access = Sessions({{1, true}});
    EXPECT_EQ(RunUninstallWith(L"not-a-sid", false, L"C:\\x.exe", access), 2u);
    EXPECT_EQ(RunUninstallWith(L"S-1-5-21-x", true, L"C:\\x.exe", access), 2u);
    EXPECT_EQ(RunUninstallWith(L"S-1-5-18", false, L"C:\\x.exe", access), 1008u);
    // Wine lists no sessions, so no user has a session token there.
    EXPECT_EQ(Pd::Install::RunUninstallInUserSession(Pd::Install::CurrentUserSid(), false), 1008u);
}

TEST(UninstallAsUser, RunsTheProgramAsTheUserAndPassesItsExitCodeThrough)
{
    PdTest::ScratchFolder scratch;
    const fs::path program = scratch.Path() / L"Peldra.exe";
    ASSERT_TRUE(PdTest::PlaceProbe(program));

    const std::uint32_t code = Pd::Install::Detail::RunUninstallWith(
        Pd::Install::CurrentUserSid(), true, program.wstring(), Sessions({{1, true}}));
    EXPECT_EQ(code, PdTest::ProbeExitCode);
    const auto record = PdTest::ReadProbeRecord(program);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->commandLine, L"\"" + program.wstring() + L"\" uninstall --yes --from-setup --all");
    EXPECT_EQ(Pd::Core::ToLower(record->currentFolder), Pd::Core::ToLower(Pd::Core::SystemFolder()));
}

TEST(UninstallAsUser, ProgramThatCannotStartGivesTheWindowsError)
{
    PdTest::ScratchFolder scratch;
    EXPECT_EQ(Pd::Install::Detail::RunUninstallWith(Pd::Install::CurrentUserSid(), false,
                                                    (scratch.Path() / L"missing.exe").wstring(),
                                                    Sessions({{1, true}})),
              static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
}

TEST(Privileges, OnlyAPrivilegeTheTokenHoldsIsEnabled)
{
    EXPECT_TRUE(Pd::Install::EnablePrivilege(SE_CHANGE_NOTIFY_NAME));
    EXPECT_FALSE(Pd::Install::EnablePrivilege(L"SeNoSuchPrivilege"));
}

TEST(MsiUninstallCommand, EndsWithPassiveAndTheDataChoice)
{
    using Pd::Install::Detail::MsiUninstallCommandLine;
    const std::wstring product = L"{11111111-2222-3333-4444-555555555555}";
    EXPECT_EQ(MsiUninstallCommandLine(L"C:\\Windows\\system32\\msiexec.exe", product, false),
              L"\"C:\\Windows\\system32\\msiexec.exe\" /x " + product + L" /passive");
    EXPECT_EQ(MsiUninstallCommandLine(L"C:\\Windows\\system32\\msiexec.exe", product, true),
              L"\"C:\\Windows\\system32\\msiexec.exe\" /x " + product + L" /passive REMOVEDATA=1");
}

class MsiUninstall : public PdTest::SigningTest
{
};

TEST_F(MsiUninstall, RemovesTheProgramsPackageWithoutWaitingForIt)
{
    ASSERT_EQ(PdTest::RunMsiexec(L"/i \"" + PdTest::SigningFile(L"program.msi") + L"\""), 0u);
    const auto product = Pd::Install::FindInstalledMsi();
    ASSERT_TRUE(product);

    ASSERT_TRUE(Pd::Install::StartMsiUninstall(*product, false));
    const auto end = std::chrono::steady_clock::now() + 90s;
    while (Pd::Install::FindInstalledMsi() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(100ms);
    EXPECT_EQ(Pd::Install::FindInstalledMsi(), std::nullopt);
}

} // namespace
