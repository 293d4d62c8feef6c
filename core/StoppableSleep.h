// Sleeps that a stop request ends early, for threads that must end as soon as they are asked to.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stop_token>

namespace Pd::Core
{

// Sleeps until `until` or a stop request; true when the time came without one. A time already
// past waits not at all: a zero-length wait costs a wait on the system's clock otherwise (over
// a millisecond under Wine).
inline bool SleepUntil(std::stop_token stop, std::chrono::steady_clock::time_point until)
{
    if (until <= std::chrono::steady_clock::now())
        return !stop.stop_requested();
    std::mutex lock;
    std::condition_variable_any never;
    std::unique_lock guard(lock);
    never.wait_until(guard, stop, until, [] { return false; });
    return !stop.stop_requested();
}

// Sleeps for `duration` or until a stop request; true when the time passed without one.
inline bool SleepFor(std::stop_token stop, std::chrono::milliseconds duration)
{
    return SleepUntil(std::move(stop), std::chrono::steady_clock::now() + duration);
}

} // namespace Pd::Core
