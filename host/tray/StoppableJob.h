// One job at a time on a thread of its own, for a menu command that takes longer than a menu may
// wait. The job follows its stop token; its owner's end asks a running job to stop and waits for
// it, so the thread never outlives its owner.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <stop_token>
#include <thread>

namespace Pd::Host
{

class StoppableJob
{
public:
    StoppableJob() = default;
    ~StoppableJob() = default; // the thread's own: stop requested, then joined
    StoppableJob(const StoppableJob&) = delete;
    StoppableJob& operator=(const StoppableJob&) = delete;

    // Runs work on the job's thread; false, and nothing done, while an earlier one still runs or
    // no thread can be started. An exception of the work ends it there.
    bool Start(std::function<void(std::stop_token)> work);

private:
    std::shared_ptr<std::atomic<bool>> running_ = std::make_shared<std::atomic<bool>>(false);
    std::jthread thread_;
};

} // namespace Pd::Host
