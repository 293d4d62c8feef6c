// The gate of an event sink's callbacks: they run until the sink's owner closes it, and once Close
// returns none runs on another thread and none starts, so that what they reach may go.
#pragma once

#include <concepts>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace Pd::Core
{

class CallbackGate
{
public:
    // Runs `callback` unless the gate is closed. An exception it throws ends here: it never
    // crosses the event source's edge.
    template <std::invocable Callback> void Run(Callback&& callback)
    {
        if (!Enter())
            return;
        try
        {
            callback();
        }
        catch (...)
        {
        }
        Leave();
    }

    // Closes the gate and waits for callbacks running on other threads. One running on this
    // thread, which closes the gate from inside itself, is not waited for: it would wait for itself.
    void Close();

private:
    bool Enter();
    void Leave();

    std::mutex mutex_;
    std::condition_variable idle_;
    std::vector<std::thread::id> running_;
    bool closed_ = false;
};

} // namespace Pd::Core
