// The status line's wording of one progress report.
#pragma once

#include "core/release/Callbacks.h"

#include <string>

namespace Pd::Ui
{

// "50%  ·  2/3  <stage>  ·  1 MB / 3 MB  ·  2 MB/s  ·  1:02:05 left"; without a position the stage
// and an ellipsis.
std::wstring FormatProgressLine(const Pd::Core::Progress& report);

// A time as "h:mm:ss", or "m:ss" below an hour; fractions of a second are dropped.
std::wstring FormatDuration(double seconds);

} // namespace Pd::Ui
