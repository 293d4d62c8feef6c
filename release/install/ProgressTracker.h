// Maps an install run onto one position scale (downloads 0-800 by packed bytes, unpacking
// 800-970 in equal shares, 970 for the switch-over, 1000 at the end), computes each item's
// rate and remaining time, and lets through at most one byte report per 100 ms.
#pragma once

#include "release/base/Callbacks.h"

#include <cstdint>
#include <functional>
#include <string>

namespace Pd::Core
{

inline constexpr std::int32_t DownloadEnd = 800;
inline constexpr std::int32_t UnpackEnd = 970;
inline constexpr std::int32_t SwitchOverPosition = 970;
inline constexpr std::int32_t DonePosition = 1000;

// Where one item's byte reports go on the position scale.
struct ProgressSpan
{
    std::int32_t base = 0;
    std::int32_t span = 0;
};

// A download of packedSize bytes after `before` bytes of a plan of downloadBytes (0 counts as 1).
ProgressSpan DownloadSpan(std::uint64_t before, std::uint64_t packedSize, std::uint64_t downloadBytes);

// Unpacking item index (1-based) of count.
ProgressSpan UnpackSpan(std::int32_t index, std::int32_t count);

// The tracker's two clocks; tests set their own.
struct ProgressClock
{
    std::function<std::uint64_t()> monotonicNanoseconds;
    std::function<std::uint64_t()> tickMilliseconds; // milliseconds since Windows started
};

ProgressClock SystemProgressClock();

class ProgressTracker
{
public:
    // The callbacks must outlive the tracker; only their progress callback is used.
    explicit ProgressTracker(const Callbacks& callbacks, ProgressClock clock = SystemProgressClock());

    // Sets the stage and position, clears the item fields and reports at once.
    void Stage(std::wstring text, std::int32_t position);

    // Starts an item of a download or unpack loop; reports nothing.
    void BeginItem(std::wstring text, std::int32_t index, std::int32_t count);

    // A byte report of the current item, placed at base + done / total x span.
    void Bytes(std::uint64_t done, std::uint64_t total, std::int32_t base, std::int32_t span);

    const Progress& Current() const { return progress_; }

private:
    void Report();

    const Callbacks& callbacks_;
    ProgressClock clock_;
    Progress progress_;
    std::uint64_t itemStart_ = 0;
    std::uint64_t firstSample_ = 0;
    bool firstSamplePending_ = true;
    std::uint64_t lastReport_ = 0;
};

} // namespace Pd::Core
