#include "platform/sim/SimGattOperations.h"

#include "core/Log.h"
#include "core/StoppableSleep.h"
#include "core/Strings.h"

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace Pd::Platform::Sim
{
namespace
{

using Clock = std::chrono::steady_clock;

class Pump
{
public:
    Pump() : thread_([this](std::stop_token stop) { Run(stop); }) {}

    void Add(std::chrono::milliseconds delay, std::function<void()> event)
    {
        {
            std::lock_guard guard(lock_);
            events_.emplace(Clock::now() + delay, std::move(event));
        }
        changed_.notify_all();
    }

private:
    void Run(std::stop_token stop)
    {
        std::unique_lock guard(lock_);
        while (!stop.stop_requested())
        {
            if (events_.empty())
            {
                changed_.wait(guard, stop, [this] { return !events_.empty(); });
                continue;
            }
            auto due = events_.begin()->first;
            if (Clock::now() < due)
            {
                changed_.wait_until(guard, stop, due, [] { return false; });
                continue;
            }
            std::function<void()> event = std::move(events_.begin()->second);
            events_.erase(events_.begin());
            guard.unlock();
            event();
            event = nullptr; // what it held goes here, on the pump
            guard.lock();
        }
    }

    std::mutex lock_;
    std::condition_variable_any changed_;
    std::multimap<Clock::time_point, std::function<void()>> events_;
    std::jthread thread_; // last: stops before the events go
};

} // namespace

Outcome<> SimulateOperation(std::wstring_view name, std::chrono::milliseconds duration,
                            const std::vector<std::wstring>& hangs, std::stop_token stop)
{
    if (std::ranges::find(hangs, name) != hangs.end())
    {
        Core::Log("simulation: " + Core::ToUtf8(name) + " hangs until it is stopped");
        while (Core::SleepFor(stop, std::chrono::hours(1)))
        {
        }
    }
    else
        Core::SleepFor(stop, duration);
    if (stop.stop_requested())
        return std::unexpected(CancelledOperation());
    return {};
}

void RunLater(std::chrono::milliseconds delay, std::function<void()> event)
{
    static Pump pump;
    pump.Add(delay, std::move(event));
}

} // namespace Pd::Platform::Sim
