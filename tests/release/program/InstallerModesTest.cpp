// The installer invocations. Wine lists no sessions and lets any process take any session's
// token, so the session and token choices are driven through their own functions with sessions
// of the test's making and this process's own tokens; the hosts are threads of the test holding
// named mutexes, and the uninstall's child is the probe program.
#include "release/program/InstallerModes.h"

#include "core/Strings.h"
#include "core/UserFolders.h"
#include "release/folders/Folders.h"
#include "release/windows/Packages.h"
#include "tests/core/ScratchFolder.h"
#include "tests/support/HangLimit.h"
#include "tests/support/ProbeProgram.h"

#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace
{

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Pd::Install::Detail::SessionAccess;
using Pd::Install::Detail::StopHostsNamed;

// A background host as far as the stop is concerned: it holds its mutex and, once its Stop event
// is set, lets go of it after a delay, by releasing it or by ending without releasing it.
class FakeHost
{
public:
    enum class Ending
    {
        Release,
        Abandon,
        NoStopEvent, // an older host that cannot be asked to stop
    };

    FakeHost(const std::wstring& name, std::chrono::milliseconds delay, Ending ending = Ending::Release)
    {
        if (ending != Ending::NoStopEvent)
            stop_.Reset(::CreateEventW(nullptr, TRUE, FALSE, (name + L".Stop").c_str()));
        Pd::UniqueHandle ready(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        thread_ = std::thread([this, name, delay, ending, ready = ready.Get()] {
            Pd::UniqueHandle mutex(::CreateMutexW(nullptr, TRUE, name.c_str()));
            ::SetEvent(ready);
            HANDLE waits[] = {stop_ ? stop_.Get() : quit_.Get(), quit_.Get()};
            if (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 && stop_)
            {
                stopAsked_ = true;
                ::WaitForSingleObject(quit_.Get(), static_cast<DWORD>(delay.count()));
            }
            if (ending != Ending::Abandon)
                ::ReleaseMutex(mutex.Get());
        });
        ::WaitForSingleObject(ready.Get(), Pd::Test::HangLimitMs);
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

// Under Wine every process runs in session 1, where "Local\" names live.
TEST(StopHosts, HostsThatStopInTimeOrCannotBeAskedAreNotLateAndSessionNamesReachTheirHost)
{
    EXPECT_EQ(Pd::Install::Detail::SessionHostMutexName(3), L"Global\\Session\\3\\Peldra.Host");
    DWORD session = 0;
    ASSERT_TRUE(::ProcessIdToSessionId(::GetCurrentProcessId(), &session));
    FakeHost releasing(L"Local\\Peldra.Host", 50ms);
    FakeHost abandoning(UniqueName(L"b"), 50ms, FakeHost::Ending::Abandon);
    FakeHost deaf(UniqueName(L"deaf"), 0ms, FakeHost::Ending::NoStopEvent);
    EXPECT_FALSE(StopHostsNamed({UniqueName(L"none"), Pd::Install::Detail::SessionHostMutexName(session),
                                 UniqueName(L"b"), UniqueName(L"deaf")},
                                Pd::Test::HangLimitMs));
    EXPECT_TRUE(releasing.StopAsked());
    EXPECT_TRUE(abandoning.StopAsked());
}

TEST(StopHosts, OneDeadlineForAllMakesTheSlowHostsLate)
{
    // Hosts that keep their mutex past the deadline: a wait of its own for each would take them all
    // twenty deadlines, one deadline for all takes one; half way between is long beside a busy
    // machine's scheduling.
    constexpr int SlowHosts = 20;
    constexpr auto Deadline = 1000ms;
    std::vector<std::wstring> names{UniqueName(L"quick")};
    FakeHost quick(names.back(), 100ms);
    std::vector<std::unique_ptr<FakeHost>> slow;
    for (int i = 0; i < SlowHosts; ++i)
    {
        names.push_back(UniqueName((L"slow" + std::to_wstring(i)).c_str()));
        slow.push_back(std::make_unique<FakeHost>(names.back(), Pd::Test::HangLimit));
    }
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(StopHostsNamed(names, static_cast<DWORD>(Deadline.count())));
    EXPECT_LT(std::chrono::steady_clock::now() - started, Deadline * SlowHosts / 2);
    EXPECT_TRUE(quick.StopAsked());
    for (const auto& host : slow)
        EXPECT_TRUE(host->StopAsked());
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

// Sessions of the test's making: id -> active; the user's token in every session but those
// without one.
SessionAccess Sessions(std::vector<std::pair<DWORD, bool>> sessions, bool limited = false,
                       std::vector<DWORD> withoutToken = {})
{
    std::map<DWORD, bool> active(sessions.begin(), sessions.end());
    std::vector<DWORD> ids;
    for (const auto& [id, isActive] : sessions)
        ids.push_back(id);
    return {[ids] { return ids; }, [active](DWORD id) { return active.at(id); },
            [limited, withoutToken](DWORD id) {
                return std::ranges::find(withoutToken, id) != withoutToken.end() ? Pd::UniqueHandle()
                                                                                 : OwnToken(limited);
            }};
}

Pd::UniqueHandle FindToken(const std::wstring& sid, const SessionAccess& access, DWORD& session)
{
    Pd::UniqueLocal user;
    EXPECT_TRUE(::ConvertStringSidToSidW(sid.c_str(), reinterpret_cast<PSID*>(user.Put())));
    return Pd::Install::Detail::FindUserTokenWith(static_cast<PSID>(user.Get()), session, access);
}

TEST(UserToken, ActiveSessionsOfTheUserComeFirstAndSessionsWithoutTokenArePassedOver)
{
    const std::wstring me = Pd::Install::CurrentUserSid();
    ASSERT_FALSE(me.empty());
    struct Case
    {
        std::wstring sid;
        SessionAccess access;
        std::optional<DWORD> session; // none: no token
    };
    const Case cases[] = {
        {me, Sessions({{4, false}, {7, true}, {9, true}}), 7},
        {me, Sessions({{5, false}, {6, false}}), 5}, // a disconnected session when none is active
        {me, Sessions({{3, true}, {8, true}}, false, {3}), 8},
        {L"S-1-5-18", Sessions({{1, true}, {2, false}}), std::nullopt}, // other users' sessions
        {me, Sessions({}), std::nullopt},
    };
    for (const Case& c : cases)
    {
        DWORD session = 99;
        const bool found = static_cast<bool>(FindToken(c.sid, c.access, session));
        EXPECT_EQ(found, c.session.has_value());
        EXPECT_EQ(session, c.session.value_or(99));
    }
}

TEST(UserToken, SplitAdministratorGetsTheFullToken)
{
    Pd::UniqueHandle limited = OwnToken(true);
    ASSERT_TRUE(limited);
    ASSERT_EQ(ElevationType(limited.Get()), TokenElevationTypeLimited);

    DWORD session = 0;
    Pd::UniqueHandle token = FindToken(Pd::Install::CurrentUserSid(), Sessions({{1, true}}, true), session);
    ASSERT_TRUE(token);
    EXPECT_EQ(ElevationType(token.Get()), TokenElevationTypeFull);
    // A full token is not exchanged.
    Pd::UniqueHandle full = OwnToken();
    const HANDLE before = full.Get();
    EXPECT_EQ(Pd::Install::Detail::FullToken(std::move(full)).Get(), before);
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
    // With the user's rights it keeps the user's own environment, its TEMP in the profile.
    const std::wstring userTemp = L"temp=" + Pd::Core::ToLower(Pd::Core::UserProfileFolder()) + L"\\";
    EXPECT_TRUE(std::ranges::any_of(record->environment, [&](const std::wstring& v) {
        return Pd::Core::ToLower(v).starts_with(userTemp);
    }));
    EXPECT_EQ(Pd::Install::Detail::UserUninstallCommandLine(L"C:\\P\\Peldra.exe", false),
              L"\"C:\\P\\Peldra.exe\" uninstall --yes --from-setup");
}

TEST(UninstallAsUser, EachFailureHasItsOwnExitCode)
{
    using Pd::Install::Detail::RunUninstallWith;
    PdTest::ScratchFolder scratch;
    const SessionAccess access = Sessions({{1, true}});
    const std::wstring me = Pd::Install::CurrentUserSid();
    EXPECT_EQ(RunUninstallWith(L"S-1-5-21-x", true, L"C:\\x.exe", access), 2u);
    EXPECT_EQ(RunUninstallWith(L"S-1-5-18", false, L"C:\\x.exe", access), 1008u);
    EXPECT_EQ(RunUninstallWith(me, false, (scratch.Path() / L"missing.exe").wstring(), access),
              static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
}

TEST(Privileges, OnlyAPrivilegeTheTokenHoldsIsEnabled)
{
    EXPECT_TRUE(Pd::Install::EnablePrivilege(SE_CHANGE_NOTIFY_NAME));
    EXPECT_FALSE(Pd::Install::EnablePrivilege(L"SeNoSuchPrivilege"));
}

} // namespace
