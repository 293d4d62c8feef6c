// The callbacks through which long release operations report to their front end (the window,
// the command line, the background host). Every callback runs on the operation's own thread.
#pragma once

#include "core/Level.h"

#include <cstdint>
#include <functional>
#include <string>

namespace Pd::Core
{

// One progress report of an install run.
struct Progress
{
    std::wstring stage;
    std::int32_t position = -1; // thousandths of the whole run, -1 for none
    std::int32_t itemIndex = 0; // 1-based; 0 outside item loops
    std::int32_t itemCount = 0;
    std::uint64_t bytesDone = 0;
    std::uint64_t bytesTotal = 0;
    std::uint64_t bytesPerSecond = 0;
    double remainingSeconds = 0;
};

struct Callbacks
{
    std::function<void(const Progress&)> progress;
    std::function<void(Pd::Level, const std::wstring&)> log;
    std::function<bool(const std::wstring&)> question; // true for yes
};

// One finished log line without a level.
using LogText = std::function<void(const std::wstring&)>;

} // namespace Pd::Core

namespace Pd::Net
{

// Bytes done and bytes in all of one transfer, file hash or unpack.
using ByteProgress = std::function<void(std::uint64_t done, std::uint64_t total)>;

} // namespace Pd::Net
