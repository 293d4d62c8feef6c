#include "host/tray/StoppableJob.h"

#include <system_error>
#include <utility>

namespace Pd::Host
{

bool StoppableJob::Start(std::function<void(std::stop_token)> work)
{
    if (running_->exchange(true))
        return false;
    if (thread_.joinable())
        thread_.join(); // the earlier job has ended
    try
    {
        thread_ = std::jthread([running = running_, work = std::move(work)](std::stop_token stop) {
            try
            {
                work(stop);
            }
            catch (...)
            {
                // Nothing may leave the thread.
            }
            *running = false;
        });
    }
    catch (const std::system_error&)
    {
        *running_ = false;
        return false;
    }
    return true;
}

} // namespace Pd::Host
