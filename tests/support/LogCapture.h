// Collects the program log's lines for a test and lets it wait for one to appear.
#pragma once

#include "core/Log.h"
#include "tests/support/HangLimit.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace Pd::Test
{

class LogCapture
{
public:
    LogCapture()
    {
        Core::SetLogSink([this](std::string_view line) {
            {
                std::lock_guard guard(lock_);
                lines_.emplace_back(line);
            }
            changed_.notify_all();
        });
    }
    ~LogCapture() { Core::SetLogSink({}); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // How many lines contain the text.
    size_t Count(std::string_view text) const
    {
        std::lock_guard guard(lock_);
        return CountLocked(text);
    }

    // Waits until `count` lines contain the text; false when that takes longer than `limit`.
    bool WaitFor(std::string_view text, size_t count = 1, std::chrono::milliseconds limit = HangLimit) const
    {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, limit, [&] { return CountLocked(text) >= count; });
    }

    std::vector<std::string> Lines() const
    {
        std::lock_guard guard(lock_);
        return lines_;
    }

    // All lines, one per row, for failure messages.
    std::string Dump() const
    {
        std::string text;
        for (const std::string& line : Lines())
            text += line + "\n";
        return text;
    }

private:
    size_t CountLocked(std::string_view text) const
    {
        size_t count = 0;
        for (const std::string& line : lines_)
            count += line.find(text) != std::string::npos ? 1 : 0;
        return count;
    }

    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    std::vector<std::string> lines_;
};

} // namespace Pd::Test
