// The lock between runs that change the installation: taken at once when free or left behind by a
// run that ended without releasing it, waited for with one line when held, then refused or
// cancelled. Each test has a lock name of its own, so that runs elsewhere in the prefix never meet
// it. Wine has no private namespaces: there the lock is the "Global\" mutex of its name, where
// another run's (or another program's) mutex is planted.
#include "release/base/RunLock.h"

#include "core/Handles.h"
#include "tests/support/HangLimit.h"
#include "tests/support/PlantedObject.h"

#include <gtest/gtest.h>

#include <aclapi.h>

#include <chrono>
#include <cstring>
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

std::wstring UnderWine(const std::wstring& name)
{
    return L"Global\\" + name;
}

// Another run: a thread that takes the lock, holds it until told to let go, and then releases it
// or (abandon) ends without releasing it, as a killed process would.
class OtherRun
{
public:
    OtherRun(const std::wstring& name, bool abandon)
        : letGo_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          holding_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)), thread_([this, name, abandon] {
              Pd::UniqueHandle mutex = PdTest::PlantObject(UnderWine(name), L"BA", PdTest::Planted::Mutex);
              ::WaitForSingleObject(mutex.Get(), INFINITE);
              ::SetEvent(holding_.Get());
              ::WaitForSingleObject(letGo_.Get(), INFINITE);
              if (!abandon)
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
    Pd::UniqueHandle kept = PdTest::PlantObject(UnderWine(name), L"BA", PdTest::Planted::Mutex);
    {
        OtherRun killed(name, true);
        EXPECT_TRUE(RunLock::HeldElsewhere(name.c_str()));
    }
    bool seen = false;
    {
        Attempt attempt = Acquire(name, 0ms);
        ASSERT_TRUE(attempt.lock) << "a run that ended without releasing leaves the lock free";
        EXPECT_TRUE(attempt.lines.empty());
        std::thread([&] { seen = RunLock::HeldElsewhere(name.c_str()); }).join();
        EXPECT_TRUE(seen);
    }
    std::thread([&] { seen = RunLock::HeldElsewhere(name.c_str()); }).join();
    EXPECT_FALSE(seen);
}

TEST(RunLock, AHeldLockIsWaitedForWithOneLineThenRefusedOrTakenWhenReleased)
{
    const std::wstring name = LockName();
    OtherRun other(name, false);
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

// Where the lock is a "Global\" mutex (Wine), anyone may create it first; only one of the
// administrators' or the system's is a run's.
TEST(RunLock, ALockAnotherAccountMadeIsRefusedAtOnceNamingItsOwner)
{
    const std::wstring name = LockName();
    Pd::UniqueHandle planted =
        PdTest::PlantObject(UnderWine(name), L"S-1-5-21-1-2-3-4", PdTest::Planted::Mutex);
    Attempt refused = Acquire(name, 10s);
    ASSERT_FALSE(refused.lock);
    EXPECT_EQ(refused.lock.error(),
              L"Another program holds Peldra's name " + UnderWine(name) +
                  L" (its owner is S-1-5-21-1-2-3-4): Peldra changes nothing while it does. "
                  L"End that program, or restart Windows, and try again.");
    EXPECT_TRUE(refused.lines.empty()) << "no wait";
    planted.Reset();
    Attempt own = Acquire(name, 0ms);
    ASSERT_TRUE(own.lock);
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    Pd::UniqueHandle mutex(::OpenMutexW(READ_CONTROL, FALSE, UnderWine(name).c_str()));
    ASSERT_EQ(::GetSecurityInfo(mutex.Get(), SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                                nullptr, nullptr, &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_TRUE(::IsWellKnownSid(owner, WinBuiltinAdministratorsSid)) << "the lock a run makes";
    ::LocalFree(descriptor);
}

TEST(RunLock, AStopRequestEndsTheWait)
{
    const std::wstring name = LockName();
    OtherRun other(name, false);
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
