#include "core/SetEventOnStop.h"

#include "core/Handles.h"
#include "tests/support/HangLimit.h"

#include <gtest/gtest.h>

#include <stop_token>
#include <thread>

namespace
{

TEST(SetEventOnStop, AStopRequestSetsTheEventAtOnceAlsoWhenAlreadyRequested)
{
    Pd::UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::stop_source source;
    {
        std::stop_callback<Pd::Core::SetEventOnStop> wake(source.get_token(),
                                                          Pd::Core::SetEventOnStop{event.Get()});
        EXPECT_EQ(::WaitForSingleObject(event.Get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
        source.request_stop();
        EXPECT_EQ(::WaitForSingleObject(event.Get(), 0), WAIT_OBJECT_0);
    }
    ::ResetEvent(event.Get());
    std::stop_callback<Pd::Core::SetEventOnStop> late(source.get_token(),
                                                      Pd::Core::SetEventOnStop{event.Get()});
    EXPECT_EQ(::WaitForSingleObject(event.Get(), 0), WAIT_OBJECT_0);
}

// The waiting thread removes its callback as soon as the event wakes it, often while the
// requesting thread is still inside request_stop. With GCC 12's atomic-wait semaphore (no futex
// on Windows) that removal could hang for ever; the build uses POSIX semaphores instead.
TEST(SetEventOnStop, RemovingTheCallbackWhileTheRequestIsStillRunningNeverHangs)
{
    for (int round = 0; round < 500; ++round)
    {
        Pd::UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        Pd::UniqueHandle removed(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        std::stop_source source;
        std::thread waiter([&] {
            {
                std::stop_callback<Pd::Core::SetEventOnStop> wake(source.get_token(),
                                                                  Pd::Core::SetEventOnStop{event.Get()});
                ::WaitForSingleObject(event.Get(), INFINITE);
            }
            ::SetEvent(removed.Get());
        });
        source.request_stop();
        if (::WaitForSingleObject(removed.Get(), Pd::Test::HangLimitMs) != WAIT_OBJECT_0)
        {
            waiter.detach(); // hung for good: leave it to the end of the process
            static_cast<void>(event.Release());
            static_cast<void>(removed.Release());
            FAIL() << "the callback's removal hung in round " << round;
        }
        waiter.join();
    }
}

} // namespace
