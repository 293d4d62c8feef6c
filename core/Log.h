// The program log: time-stamped lines to the registered sink (or standard output) and, appended,
// to the log file ("bluetooth.log" in the per-user data folder) that the program's opener opens.
// Platform-free, so that the protocol code that logs also builds natively.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
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

// Opens the log file for appending; null when there is none, with the reason in `problem` when it
// was refused (empty when there is simply no file).
using LogFileOpener = std::FILE* (*)(std::string& problem);

// Sets how the log file is opened, before the first line. The first line opens it, once per
// process; a refusal's reason goes to the sink or standard output as a line "log: ...". Without
// an opener (the native build, most tests) there is no log file.
void SetLogFileOpener(LogFileOpener opener);

} // namespace Pd::Core
