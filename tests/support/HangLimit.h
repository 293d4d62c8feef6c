// How long a test waits for something that must happen before it calls the wait a hang: far
// longer than any run needs however busy the machine is, and short enough that a hung test still
// ends, with its failure, within CTest's limit for the whole exe.
#pragma once

#include <chrono>
#include <thread>

namespace Pd::Test
{

inline constexpr std::chrono::milliseconds HangLimit = std::chrono::minutes(2);
inline constexpr unsigned long HangLimitMs = static_cast<unsigned long>(HangLimit.count());

// Checks `condition` every few milliseconds until it holds; false only when that hangs. For what
// announces no change of its own (windows, files, other processes).
template <typename Condition> bool PollUntil(Condition&& condition)
{
    const auto deadline = std::chrono::steady_clock::now() + HangLimit;
    while (!condition())
    {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

} // namespace Pd::Test
