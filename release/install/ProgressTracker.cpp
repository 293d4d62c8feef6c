#include "release/install/ProgressTracker.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <utility>

namespace Pd::Core
{

ProgressSpan DownloadSpan(std::uint64_t before, std::uint64_t packedSize, std::uint64_t downloadBytes)
{
    double all = static_cast<double>(std::max<std::uint64_t>(downloadBytes, 1));
    return {static_cast<std::int32_t>(static_cast<double>(before) * DownloadEnd / all),
            static_cast<std::int32_t>(static_cast<double>(packedSize) * DownloadEnd / all)};
}

ProgressSpan UnpackSpan(std::int32_t index, std::int32_t count)
{
    // Whole thousandths: with 3 items the bases are 800, 856 and 913 and the last ends at 969.
    std::int32_t range = UnpackEnd - DownloadEnd;
    return {DownloadEnd + (index - 1) * range / std::max(count, 1), range / std::max(count, 1)};
}

ProgressClock SystemProgressClock()
{
    return {[] {
                return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                                      std::chrono::steady_clock::now().time_since_epoch())
                                                      .count());
            },
            [] { return static_cast<std::uint64_t>(::GetTickCount64()); }};
}

ProgressTracker::ProgressTracker(const Callbacks& callbacks, ProgressClock clock)
    : callbacks_(callbacks), clock_(std::move(clock))
{
}

void ProgressTracker::Stage(std::wstring text, std::int32_t position)
{
    progress_ = Progress{.stage = std::move(text), .position = position};
    Report();
}

void ProgressTracker::BeginItem(std::wstring text, std::int32_t index, std::int32_t count)
{
    progress_.stage = std::move(text);
    progress_.itemIndex = index;
    progress_.itemCount = count;
    progress_.bytesDone = progress_.bytesTotal = progress_.bytesPerSecond = 0;
    progress_.remainingSeconds = 0;
    itemStart_ = clock_.monotonicNanoseconds();
    firstSample_ = 0;
    firstSamplePending_ = true;
    lastReport_ = 0;
}

void ProgressTracker::Bytes(std::uint64_t done, std::uint64_t total, std::int32_t base, std::int32_t span)
{
    // Bytes already there when the item began (a resumed download) never count towards the rate.
    bool first = std::exchange(firstSamplePending_, false);
    if (first)
        firstSample_ = done;
    progress_.bytesDone = done;
    progress_.bytesTotal = total;

    double elapsed = static_cast<double>(clock_.monotonicNanoseconds() - itemStart_) / 1e9;
    if (elapsed > 0.5 && done > firstSample_)
    {
        progress_.bytesPerSecond =
            static_cast<std::uint64_t>(static_cast<double>(done - firstSample_) / elapsed);
        progress_.remainingSeconds = progress_.bytesPerSecond != 0
                                         ? static_cast<double>(total - std::min(total, done)) /
                                               static_cast<double>(progress_.bytesPerSecond)
                                         : 0;
    }
    progress_.position =
        total == 0 ? base
                   : base + static_cast<std::int32_t>(std::trunc(static_cast<double>(done) * span / total));

    std::uint64_t tick = clock_.tickMilliseconds();
    if (!first && tick - lastReport_ < 100 && done != total)
        return;
    lastReport_ = tick;
    Report();
}

void ProgressTracker::Report()
{
    if (callbacks_.progress)
        callbacks_.progress(progress_);
}

} // namespace Pd::Core
