#include "core/Log.h"

#include "core/ScopeExit.h"

#include <fmt/format.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <mutex>
#include <string>

namespace Pd::Core
{
namespace
{

struct LogState
{
    std::mutex lock; // serialises the sink, standard output and the file
    LogSink sink;
    std::atomic<LogFileOpener> opener{nullptr};
    std::once_flag fileOpened;
    std::FILE* file = nullptr; // open until the process ends
};

LogState& State()
{
    static LogState* state = new LogState; // lives until exit: threads may log during shutdown
    return *state;
}

std::string FormatLine(std::string_view text)
{
    auto now = std::chrono::system_clock::now();
    std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    return fmt::format("[{:02}:{:02}:{:02}.{:03}] {}\n", local.tm_hour, local.tm_min, local.tm_sec, millis,
                       text);
}

// The line to the sink, or else to standard output.
void Show(LogState& state, const std::string& line)
{
    try
    {
        if (state.sink)
        {
            state.sink(std::string_view(line).substr(0, line.size() - 1));
        }
        else
        {
            std::fwrite(line.data(), 1, line.size(), stdout);
            std::fflush(stdout);
        }
    }
    catch (...)
    {
        // A failing sink costs its own line only; the file still gets it.
    }
}

void OpenFile(LogState& state)
{
    const LogFileOpener opener = state.opener.load();
    if (opener == nullptr)
        return;
    std::string problem;
    state.file = opener(problem);
    if (!problem.empty())
        Show(state, FormatLine("log: " + problem));
}

} // namespace

void Log(std::string_view text)
{
    // A sink that logs itself would wait for the lock it already holds: its lines are dropped.
    thread_local bool writing = false;
    if (writing)
        return;
    try
    {
        std::string line = FormatLine(text);
        LogState& state = State();
        std::lock_guard guard(state.lock);
        writing = true;
        ScopeExit done([] { writing = false; });
        Show(state, line);
        std::call_once(state.fileOpened, [&] { OpenFile(state); });
        if (state.file)
        {
            std::fwrite(line.data(), 1, line.size(), state.file);
            std::fflush(state.file);
        }
    }
    catch (...)
    {
        // Logging never fails towards its caller.
    }
}

void SetLogFileOpener(LogFileOpener opener)
{
    State().opener.store(opener);
}

void SetLogSink(LogSink sink)
{
    LogState& state = State();
    std::lock_guard guard(state.lock);
    state.sink = std::move(sink);
}

} // namespace Pd::Core
