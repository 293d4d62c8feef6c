// The lock between runs that change the installation: taken at once when free or left behind by a
// run that ended without releasing it, waited for with one line when held, then refused or
// cancelled; held against a run of an earlier version, which locks only the "Global\" mutex. Each
// test has a lock name of its own, so that runs elsewhere in the prefix never meet it. A run killed
// while another waits is test_overlapping_runs.py's: only a process's end closes handles as a kill.
#include "release/base/RunLock.h"

#include "core/Handles.h"
#include "tests/support/HangLimit.h"
#include "tests/support/PlantedObject.h"

#include <gtest/gtest.h>

#include <aclapi.h>

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

std::wstring LockName()
{
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    return L"PeldraRunLockTest." + std::to_wstring(::GetCurrentProcessId()) + L"." +
           std::wstring(test->name(), test->name() + std::strlen(test->name()));
}

std::wstring OldName(const std::wstring& name)
{
    return L"Global\\" + name;
}

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
              else if ((mutex = PdTest::PlantObject(OldName(name), L"BA", PdTest::Planted::Mutex)))
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
    EXPECT_FALSE(std::filesystem::exists(file)) << "the lock file goes with its holder";
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
// administrators' or the system's is a run's.
TEST(RunLock, ALockAnotherAccountMadeIsRefusedAtOnceNamingItsOwner)
{
    const std::wstring name = LockName();
    Pd::UniqueHandle planted =
        PdTest::PlantObject(OldName(name), L"S-1-5-21-1-2-3-4", PdTest::Planted::Mutex);
    Attempt refused = Acquire(name, 10s);
    ASSERT_FALSE(refused.lock);
    EXPECT_EQ(refused.lock.error(),
              L"Another program holds Peldra's name " + OldName(name) +
                  L" (its owner is S-1-5-21-1-2-3-4): Peldra changes nothing while it does. "
                  L"End that program, or restart Windows, and try again.");
    EXPECT_TRUE(refused.lines.empty()) << "no wait";
    planted.Reset();
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
