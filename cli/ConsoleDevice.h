// The Windows console and standard-handle functions that the console output stands on, behind
// one small interface so that its drawing and stream choice can be exercised without a console.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

namespace Pd::Cli
{

enum class HandleKind
{
    None = 0,       // null, INVALID_HANDLE_VALUE, or a handle of another file type
    Console = 1,    // a character device with a console mode
    FileOrPipe = 2, // a disk file, a pipe, or a character device without a console mode (NUL)
};

// The kind of a standard handle.
HandleKind ClassifyHandle(HANDLE handle);

class ConsoleDevice
{
public:
    virtual ~ConsoleDevice() = default;

    virtual HANDLE StdHandle(DWORD which) = 0;
    virtual HandleKind Classify(HANDLE handle) = 0;
    virtual bool AttachToParent() = 0;
    // Whoever started the process asked for its window to be shown (as Explorer and shortcuts do).
    virtual bool StartedToBeShown() = 0;
    virtual bool Allocate() = 0;
    // Opens "CONOUT$"; the device keeps it until CloseConsoleOutput. Null when it cannot be opened.
    virtual HANDLE OpenConsoleOutput() = 0;
    // Adds processed output and escape-sequence processing to the console's mode.
    virtual bool EnableEscapeSequences(HANDLE console) = 0;
    virtual void SetTitle(std::wstring_view title) = 0;
    virtual void WriteText(HANDLE console, std::wstring_view text) = 0;
    virtual void WriteBytes(HANDLE file, std::string_view bytes) = 0;
    // Width of the console window in columns; none when it cannot be read.
    virtual std::optional<int> WindowColumns(HANDLE console) = 0;
    virtual std::uint64_t TickCount() = 0;
    // Waits for a key press on the console's input.
    virtual void WaitForKey() = 0;
    // Puts Enter into the console's input, so that the parent shell shows its prompt again.
    virtual void PressEnter() = 0;
    virtual void CloseConsoleOutput() = 0;
    virtual void Detach() = 0;
};

std::unique_ptr<ConsoleDevice> MakeSystemConsoleDevice();

} // namespace Pd::Cli
