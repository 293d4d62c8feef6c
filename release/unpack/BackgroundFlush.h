// Flushes finished staged files on a thread of its own, so that waiting for one file's data to
// reach the disk overlaps with unpacking the next one instead of stopping it.
#pragma once

#include "core/Result.h"
#include "release/unpack/StagedFiles.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace Pd::Install
{

class BackgroundFlush
{
public:
    BackgroundFlush();
    // Stops without flushing what is still queued; a flush under way is waited for.
    ~BackgroundFlush();
    BackgroundFlush(const BackgroundFlush&) = delete;
    BackgroundFlush& operator=(const BackgroundFlush&) = delete;

    // Queues a file. It must outlive this object, and its owner must not touch it until Finish.
    void Add(StagedFile& file);

    // Waits until every queued file is flushed; the first error, if any.
    Result<> Finish();

private:
    void Run(std::stop_token stop);

    std::mutex mutex_;
    std::condition_variable_any changed_;
    std::deque<StagedFile*> queue_;
    bool flushing_ = false;
    std::optional<std::wstring> error_;
    std::jthread thread_; // last: it starts once everything above exists
};

} // namespace Pd::Install
