// The program log: time-stamped lines to the registered sink (or standard output) and,
// appended, to "bluetooth.log" in the per-user data folder. Platform-free, so that the
// protocol code that logs also builds natively.
#pragma once

#include <functional>
#include <string_view>

namespace Pd::Core
{

// Receives one finished line (time stamp and text, without the line end).
using LogSink = std::function<void(std::string_view line)>;

// Writes one line "[hh:mm:ss.mmm] text". Takes UTF-8 without a line end; never fails.
void Log(std::string_view text);

// Replaces the registered sink; an empty sink sends lines to standard output again.
// A sink must not log itself.
void SetLogSink(LogSink sink);

} // namespace Pd::Core
