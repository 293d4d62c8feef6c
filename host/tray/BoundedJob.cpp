#include "host/tray/BoundedJob.h"

#include "core/Log.h"

#include <fmt/format.h>

#include <system_error>
#include <utility>

namespace Pd::Host
{

BoundedJob::BoundedJob(std::string name, std::chrono::milliseconds endWait)
    : name_(std::move(name)), endWait_(endWait)
{
}

BoundedJob::~BoundedJob()
{
    if (!thread_.joinable())
        return;
    bool ended = false;
    {
        std::unique_lock guard(state_->lock);
        ended = state_->ended.wait_for(guard, endWait_, [this] { return !state_->running; });
    }
    if (ended)
    {
        thread_.join();
        return;
    }
    Core::Log(
        fmt::format("host: {} still runs after {} ms; it finishes on its own", name_, endWait_.count()));
    thread_.detach();
}

bool BoundedJob::Start(std::function<void()> work)
{
    {
        std::lock_guard guard(state_->lock);
        if (state_->running)
            return false;
        state_->running = true;
    }
    if (thread_.joinable())
        thread_.join(); // the earlier job has ended
    try
    {
        thread_ = std::jthread([state = state_, work = std::move(work)] {
            try
            {
                work();
            }
            catch (...)
            {
                // Nothing may leave the thread.
            }
            std::lock_guard guard(state->lock);
            state->running = false;
            state->ended.notify_all();
        });
    }
    catch (const std::system_error&)
    {
        std::lock_guard guard(state_->lock);
        state_->running = false;
        return false;
    }
    return true;
}

} // namespace Pd::Host
