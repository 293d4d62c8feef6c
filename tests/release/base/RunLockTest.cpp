// The lock between runs that change the installation: taken at once when free or left behind by a
// run that ended without releasing it, waited for with one line when held, then refused or
// cancelled; held against a run of an earlier version, which locks the "Global\" mutex. Each test
// has a lock name of its own, so that runs elsewhere in the prefix never meet it. A run killed
// while another waits is test_overlapping_runs.py's: only a process's end closes handles as a kill.
#include "release/base/RunLock.h"

#include "core/Handles.h"
#include "tests/support/HangLimit.h"
#include "tests/support/PlantedObject.h"

#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace
{

using namespace std::chrono_literals;
using Pd::Core::RunLock;

// The lock files stay after their runs: those of the tests go when the tests end.
struct TestLockFiles
{
    std::vector<std::wstring> paths;
    ~TestLockFiles()
    {
        for (const std::wstring& path : paths)
            ::DeleteFileW(path.c_str());
    }
};

std::wstring LockName()
{
    static TestLockFiles made;
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::wstring name = L"PeldraRunLockTest." + std::to_wstring(::GetCurrentProcessId()) + L"." +
                        std::wstring(test->name(), test->name() + std::strlen(test->name()));
    made.paths.push_back(RunLock::FilePath(name.c_str()));
    return name;
}

std::wstring OldName(const std::wstring& name)
{
    return L"Global\\" + name;
}

Pd::UniqueHandle EarlierRunsMutex(const std::wstring& name);

// Another run: a thread that takes the lock, holds it until told to let go, and then releases it.
// One of an earlier version takes only the mutex and may end without releasing it, as when killed.
enum class Holder
{
    ThisVersion,
    EarlierVersion,
    EarlierVersionKilled,
};

class OtherRun
{
public:
    OtherRun(const std::wstring& name, Holder holder)
        : letGo_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          holding_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)), thread_([this, name, holder] {
              std::optional<Pd::Result<RunLock>> lock;
              Pd::UniqueHandle mutex;
              if (holder == Holder::ThisVersion)
                  lock.emplace(RunLock::Acquire({}, {}, 0ms, name.c_str()));
              else if ((mutex = EarlierRunsMutex(name)))
                  ::WaitForSingleObject(mutex.Get(), INFINITE);
              ::SetEvent(holding_.Get());
              ::WaitForSingleObject(letGo_.Get(), INFINITE);
              if (holder == Holder::EarlierVersion)
                  ::ReleaseMutex(mutex.Get());
          })
    {
        ::WaitForSingleObject(holding_.Get(), Pd::Test::HangLimitMs);
    }
    ~OtherRun() { End(); }

    void End()
    {
        ::SetEvent(letGo_.Get());
        if (thread_.joinable())
            thread_.join();
    }

private:
    Pd::UniqueHandle letGo_;
    Pd::UniqueHandle holding_;
    std::thread thread_;
};

// An earlier version's run made its mutex with the access list a run of this version gives it.
Pd::UniqueHandle EarlierRunsMutex(const std::wstring& name)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:BAD:(A;;GA;;;SY)(A;;GA;;;BA)",
                                                                SDDL_REVISION_1, &descriptor, nullptr))
        return {};
    Pd::UniqueLocal owned(descriptor);
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
    return Pd::UniqueHandle(::CreateMutexW(&attributes, FALSE, OldName(name).c_str()));
}

// HeldElsewhere as a process without administrator rights asks it: on a thread whose token has
// the Administrators for denying only. Wine checks a named object's access list against it (not a
// file's, which Windows refuses such a process: RunHoldsLock's table has that side).
bool HeldElsewhereWithoutAdministrators(const std::wstring& name)
{
    bool held = true;
    std::thread([&] {
        HANDLE own = nullptr;
        HANDLE restricted = nullptr;
        BYTE admins[SECURITY_MAX_SID_SIZE] = {};
        DWORD size = sizeof(admins);
        ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_ALL_ACCESS, &own));
        Pd::UniqueHandle process(own);
        ASSERT_TRUE(::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size));
        SID_AND_ATTRIBUTES denyOnly{admins, 0};
        ASSERT_TRUE(::CreateRestrictedToken(own, 0, 1, &denyOnly, 0, nullptr, 0, nullptr, &restricted));
        Pd::UniqueHandle token(restricted);
        ASSERT_TRUE(::ImpersonateLoggedOnUser(restricted));
        held = RunLock::HeldElsewhere(name.c_str());
        ::RevertToSelf();
    }).join();
    return held;
}

struct Attempt
{
    Pd::Result<RunLock> lock;
    std::vector<std::wstring> lines;
};

// `said`, when given, is set once the attempt has said a line (that it waits for another run).
Attempt Acquire(const std::wstring& name, std::chrono::milliseconds wait, std::stop_token stop = {},
                HANDLE said = nullptr)
{
    std::vector<std::wstring> lines;
    auto lock = RunLock::Acquire(
        [&](const std::wstring& line) {
            lines.push_back(line);
            if (said)
                ::SetEvent(said);
        },
        stop, wait, name.c_str());
    return Attempt{std::move(lock), std::move(lines)};
}

TEST(RunLock, AFreeOrAbandonedLockIsTakenAtOnceAndSeenByOthersUntilDropped)
{
    const std::wstring name = LockName();
    EXPECT_FALSE(RunLock::HeldElsewhere(name.c_str()));
    // Keeps the mutex in existence after its owner ended, as the other runs of a machine would.
    Pd::UniqueHandle kept = PdTest::PlantObject(OldName(name), L"BA", PdTest::Planted::Mutex);
    {
        OtherRun killed(name, Holder::EarlierVersionKilled);
        EXPECT_TRUE(RunLock::HeldElsewhere(name.c_str()));
    }
    // A lock file left by a run that Windows stopped under it.
    const std::filesystem::path file = RunLock::FilePath(name.c_str());
    ASSERT_TRUE(
        Pd::UniqueFile(::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr)));
    bool seen = false;
    {
        Attempt attempt = Acquire(name, 0ms);
        ASSERT_TRUE(attempt.lock) << "a run that ended without releasing leaves the lock free";
        EXPECT_TRUE(attempt.lines.empty());
        std::thread([&] { seen = RunLock::HeldElsewhere(name.c_str()); }).join();
        EXPECT_TRUE(seen);
        EXPECT_FALSE(Pd::UniqueFile(
            ::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)))
            << "nobody else opens the lock file";
    }
    std::thread([&] { seen = RunLock::HeldElsewhere(name.c_str()); }).join();
    EXPECT_FALSE(seen);
    EXPECT_FALSE(HeldElsewhereWithoutAdministrators(name)) << "a lock file left behind is no run";
    EXPECT_TRUE(std::filesystem::exists(file)) << "the lock file stays, never pending deletion";
}

// Anyone who may list Program Files may open the lock file for its attributes, which sharing does
// not govern, and keep that handle in a program of its own. The lock is dropped and taken again
// past it, and the next run finds the file's name free: Windows refuses every open of a file
// deleted on close while such a handle stays (Wine opens it all the same), so the lock never
// deletes its file.
TEST(RunLock, AHandleKeptForTheFilesAttributesTakesNothingFromTheLock)
{
    const std::wstring name = LockName();
    const std::filesystem::path file = RunLock::FilePath(name.c_str());
    std::optional<Attempt> first = Acquire(name, 0ms);
    ASSERT_TRUE(first->lock);
    SECURITY_ATTRIBUTES inherited{sizeof(inherited), nullptr, TRUE};
    Pd::UniqueFile attributes(
        ::CreateFileW(file.c_str(), FILE_READ_ATTRIBUTES, 7, &inherited, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(attributes) << "sharing does not govern an open for the attributes";
    // A suspended program of its own keeps the handle once this one is closed.
    std::wstring commandLine = L"cmd.exe";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started{};
    ASSERT_TRUE(::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED,
                                 nullptr, nullptr, &startup, &started));
    Pd::UniqueHandle keeper(started.hProcess);
    Pd::UniqueHandle keeperThread(started.hThread);
    attributes.Reset();

    first.reset();
    std::optional<Attempt> next = Acquire(name, 0ms);
    EXPECT_TRUE(next->lock) << "taken at once past the kept handle";
    EXPECT_TRUE(next->lines.empty());
    next.reset();
    ::TerminateProcess(keeper.Get(), 0);
    ::WaitForSingleObject(keeper.Get(), Pd::Test::HangLimitMs);
    EXPECT_TRUE(std::filesystem::exists(file)) << "nothing left it pending deletion";
    EXPECT_TRUE(Acquire(name, 0ms).lock);
}

TEST(RunLock, AHeldLockIsWaitedForWithOneLineThenRefusedOrTakenWhenReleased)
{
    const std::wstring name = LockName();
    OtherRun other(name, Holder::ThisVersion);
    Attempt refused = Acquire(name, 300ms);
    ASSERT_FALSE(refused.lock);
    EXPECT_EQ(refused.lock.error(),
              L"Another Peldra run is changing the installation. Try again when it has finished.");
    EXPECT_EQ(refused.lines, std::vector<std::wstring>{L"Another Peldra run is changing the installation: "
                                                       L"waiting for it to finish (at most 1 s)."});

    Pd::UniqueHandle waiting(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread release([&] {
        ::WaitForSingleObject(waiting.Get(), Pd::Test::HangLimitMs);
        other.End();
    });
    Attempt waited = Acquire(name, Pd::Test::HangLimit, {}, waiting.Get());
    release.join();
    EXPECT_TRUE(waited.lock);
    EXPECT_EQ(waited.lines.size(), 1u);
}

// A run of an earlier version and one of this exclude each other, through the old name.
TEST(RunLock, AnEarlierVersionsRunIsWaitedForAndFindsTheLockTaken)
{
    const std::wstring name = LockName();
    OtherRun other(name, Holder::EarlierVersion);
    EXPECT_TRUE(RunLock::HeldElsewhere(name.c_str()));
    EXPECT_TRUE(HeldElsewhereWithoutAdministrators(name)) << "a run's mutex, which only administrators open";
    Attempt refused = Acquire(name, 300ms);
    ASSERT_FALSE(refused.lock);
    EXPECT_EQ(refused.lines.size(), 1u);
    std::stop_source stopped;
    stopped.request_stop();
    EXPECT_EQ(Acquire(name, Pd::Test::HangLimit, stopped.get_token()).lock.error(), L"Canceled.");
    other.End();
    Attempt own = Acquire(name, 0ms);
    ASSERT_TRUE(own.lock);
    std::thread([&] {
        Pd::UniqueHandle mutex(::OpenMutexW(SYNCHRONIZE, FALSE, OldName(name).c_str()));
        EXPECT_EQ(::WaitForSingleObject(mutex.Get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    }).join();
}

// The earlier versions' "Global\" mutex may be made first by anyone; only one of the
// administrators' or the system's is a run's. The refusal names the owner's account where Windows
// knows it, so that an administrator can act.
TEST(RunLock, ALockAnotherAccountMadeIsRefusedAtOnceNamingItsOwner)
{
    const std::wstring name = LockName();
    for (const auto& [owner, named] : {std::pair{L"S-1-5-21-1-2-3-4", L"S-1-5-21-1-2-3-4"},
                                       std::pair{L"S-1-5-32-545", L"BUILTIN\\Users (S-1-5-32-545)"}})
    {
        Pd::UniqueHandle planted = PdTest::PlantObject(OldName(name), owner, PdTest::Planted::Mutex);
        Attempt refused = Acquire(name, 10s);
        ASSERT_FALSE(refused.lock);
        EXPECT_EQ(refused.lock.error(), L"Another program holds Peldra's name " + OldName(name) +
                                            L" (its owner is " + named +
                                            L"): Peldra changes nothing while it does. "
                                            L"End that program, or restart Windows, and try again.");
        EXPECT_TRUE(refused.lines.empty()) << "no wait";
        EXPECT_FALSE(RunLock::HeldElsewhere(name.c_str())) << "no run holds it";
    }
    Attempt own = Acquire(name, 0ms);
    ASSERT_TRUE(own.lock);
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    Pd::UniqueHandle mutex(::OpenMutexW(READ_CONTROL, FALSE, OldName(name).c_str()));
    ASSERT_EQ(::GetSecurityInfo(mutex.Get(), SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                                nullptr, nullptr, &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_TRUE(::IsWellKnownSid(owner, WinBuiltinAdministratorsSid)) << "the lock a run makes";
    ::LocalFree(descriptor);
}

// A reader without administrator rights is refused the lock file whether a run holds it or one left
// it behind; only the holder's sharing or a run's mutex says that a run holds the lock.
TEST(RunLock, OnlyTheHoldersSharingOrARunsMutexMeansARunHoldsTheLock)
{
    using enum Pd::Core::Detail::MutexSeen;
    struct Row
    {
        DWORD fileOpenError;
        Pd::Core::Detail::MutexSeen mutex;
        bool held;
    };
    const Row rows[] = {
        {ERROR_SHARING_VIOLATION, Missing, true}, // a run between taking its file and its mutex
        {ERROR_ACCESS_DENIED, Missing, false},    // left behind by a run that ended
        {ERROR_ACCESS_DENIED, Refused, true},     // a run's mutex, seen without administrator rights
        {ERROR_ACCESS_DENIED, Foreign, false},    // another account's mutex is no run's
        {ERROR_SUCCESS, Foreign, false},
        {ERROR_SUCCESS, Owned, true}, // an earlier version's run
        {ERROR_SUCCESS, Free, false},
        {ERROR_FILE_NOT_FOUND, Missing, false},
    };
    for (std::size_t i = 0; i < std::size(rows); ++i)
        EXPECT_EQ(Pd::Core::Detail::RunHoldsLock(rows[i].fileOpenError, rows[i].mutex), rows[i].held)
            << "row " << i;
}

TEST(RunLock, AStopRequestEndsTheWait)
{
    const std::wstring name = LockName();
    OtherRun other(name, Holder::ThisVersion);
    std::stop_source stop;
    Pd::UniqueHandle waiting(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread cancel([&] {
        ::WaitForSingleObject(waiting.Get(), Pd::Test::HangLimitMs);
        stop.request_stop();
    });
    Attempt attempt = Acquire(name, Pd::Test::HangLimit, stop.get_token(), waiting.Get());
    cancel.join();
    ASSERT_FALSE(attempt.lock);
    EXPECT_EQ(attempt.lock.error(), L"Canceled.");
}

} // namespace
