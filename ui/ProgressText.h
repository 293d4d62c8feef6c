// The status line's wording of one progress report.
#pragma once

#include "release/base/Callbacks.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace Pd::Ui
{

// "50%  ·  2/3  <stage>  ·  1 MB / 3 MB  ·  2 MB/s  ·  1:02:05 left"; without a position the stage
// and an ellipsis.
std::wstring FormatProgressLine(const Pd::Core::Progress& report);

// A time as "h:mm:ss", or "m:ss" below an hour; fractions of a second are dropped.
std::wstring FormatDuration(double seconds);

// When the latest progress report's line may replace the status line: at once for a new stage,
// otherwise at most every PeriodMs. A line that changes with every report of a fast transfer
// cannot be read, and drawing it is most of what a progress frame would cost.
class ProgressLinePace
{
public:
    static constexpr std::uint64_t PeriodMs = 250;

    // Whether a line of the stage may show at the tick (ms); when it may, it counts as shown.
    bool Take(std::wstring_view stage, std::uint64_t now);
    // The next line shows at once.
    void Reset() { shownAt_.reset(); }

private:
    std::wstring stage_;
    std::optional<std::uint64_t> shownAt_;
};

} // namespace Pd::Ui
