// One job at a time on a thread of its own, for a menu command that takes longer than a menu may
// wait. Its owner's end waits for a running job, bounded: a job still running then finishes on
// its own (it holds nothing of the owner), which is logged.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace Pd::Host
{

class BoundedJob
{
public:
    // name: what the log line calls the job; endWait: how long the destructor waits for it.
    BoundedJob(std::string name, std::chrono::milliseconds endWait);
    ~BoundedJob();
    BoundedJob(const BoundedJob&) = delete;
    BoundedJob& operator=(const BoundedJob&) = delete;

    // Runs work on the job's thread; false, and nothing done, while an earlier one still runs or
    // no thread can be started. An exception of the work ends it there.
    bool Start(std::function<void()> work);

private:
    struct State
    {
        std::mutex lock;
        std::condition_variable ended;
        bool running = false;
    };

    std::string name_;
    std::chrono::milliseconds endWait_;
    std::shared_ptr<State> state_ = std::make_shared<State>();
    std::jthread thread_;
};

} // namespace Pd::Host
