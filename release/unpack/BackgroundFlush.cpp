#include "release/unpack/BackgroundFlush.h"

namespace Pd::Install
{

BackgroundFlush::BackgroundFlush() : thread_([this](std::stop_token stop) { Run(stop); }) {}

BackgroundFlush::~BackgroundFlush()
{
    thread_.request_stop();
    thread_.join();
}

void BackgroundFlush::Add(StagedFile& file)
{
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(&file);
    }
    changed_.notify_all();
}

Result<> BackgroundFlush::Finish()
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return queue_.empty() && !flushing_; });
    if (error_)
        return Fail(*error_);
    return {};
}

void BackgroundFlush::Run(std::stop_token stop)
{
    std::unique_lock lock(mutex_);
    for (;;)
    {
        if (!changed_.wait(lock, stop, [this] { return !queue_.empty(); }))
            return;
        StagedFile* file = queue_.front();
        queue_.pop_front();
        flushing_ = true;
        lock.unlock();
        auto flushed = file->Flush();
        lock.lock();
        flushing_ = false;
        if (!flushed && !error_)
            error_ = std::move(flushed.error());
        changed_.notify_all();
    }
}

} // namespace Pd::Install
