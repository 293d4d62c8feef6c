// The console output of a command-line run. The program is built for the GUI subsystem, so a
// command typed in a console gets no console of its own: this keeps standard output and error
// when they are redirected to a file or pipe, and otherwise attaches to the parent's console (or,
// without one, uses a console it was given, or opens one when it was started to be shown). It writes UTF-16
// to a console and UTF-8 with CR LF line ends to files and pipes, prints levelled rows with coloured tags,
// and draws one throttled progress line.
#pragma once

#include "cli/ConsoleDevice.h"
#include "core/Level.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace Pd::Cli
{

enum class Stream
{
    Output, // rows of levels info to warning, plain text, the usage
    Error,  // failure rows, parse and usage errors
};

class Console
{
public:
    Console();
    explicit Console(std::unique_ptr<ConsoleDevice> device);
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;
    ~Console();

    // Writes text as it stands; nothing when the stream is missing or the text empty.
    void Write(Stream stream, std::wstring_view text);

    // One line "[INFO] text" (or [ OK ], [WARN], [FAIL]); failures go to the error stream. Control
    // characters in the text are shown as \xNN.
    void Row(Level level, std::wstring_view text);

    // Columns of the console window that shows the progress line (40 to 200), else 80.
    int Width();

    // Draws the progress line of label: on a console at most every 100 ms, in a file or pipe at most
    // once a second, and 100 % once per label.
    void Progress(std::wstring_view label, double fraction, std::wstring_view detail);

    // Clears a progress line that stands on the console, so that text never lands behind it.
    void EndProgress();

    // Leaves the last state of the progress line visible and starts afresh; commands call it after
    // their operation, before printing the result.
    void FlushLine();

    void SetProgressEnabled(bool enabled) { progressEnabled_ = enabled; }

    // End of the run: waits for a key in a console the program opened, gives the parent shell its
    // prompt back, and lets the console go. Runs once; the destructor calls it too.
    void Close();

private:
    struct Channel
    {
        HANDLE handle = nullptr;
        bool console = false;
    };

    void Write(const Channel& channel, std::wstring_view text);
    const Channel& Of(Stream stream) const { return stream == Stream::Error ? error_ : output_; }

    std::unique_ptr<ConsoleDevice> device_;
    Channel output_;
    Channel error_;
    Channel progress_;
    bool attached_ = false;
    bool allocated_ = false;
    bool escapes_ = false;
    bool progressEnabled_ = true;
    bool lineOpen_ = false;
    bool fullDrawn_ = false;
    bool closed_ = false;
    std::optional<std::uint64_t> lastDraw_;
    std::optional<std::wstring> label_;
};

} // namespace Pd::Cli
