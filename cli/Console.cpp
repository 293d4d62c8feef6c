#include "cli/Console.h"

#include "cli/ProgressLine.h"
#include "core/Strings.h"

#include <fmt/xchar.h>

#include <algorithm>

namespace Pd::Cli
{
namespace
{

constexpr std::uint64_t ConsoleDrawInterval = 100; // ms
constexpr std::uint64_t FileDrawInterval = 1000;   // ms: one line a second in a log file
constexpr int FileColumns = 120;

struct RowLook
{
    std::wstring_view tag;
    std::wstring_view colour;
};

RowLook LookOf(Level level)
{
    switch (level)
    {
    case Level::Success:
        return {L"[ OK ]", L"\x1b[32m"};
    case Level::Warning:
        return {L"[WARN]", L"\x1b[33m"};
    case Level::Error:
        return {L"[FAIL]", L"\x1b[91m"};
    case Level::Info:
    default:
        return {L"[INFO]", L"\x1b[90m"};
    }
}

// Files and pipes get CR LF line ends: every LF that has no CR before it.
std::wstring WithCrLf(std::wstring_view text)
{
    std::wstring result;
    result.reserve(text.size() + 16);
    for (std::size_t at = 0; at < text.size(); ++at)
    {
        if (text[at] == L'\n' && (at == 0 || text[at - 1] != L'\r'))
            result += L'\r';
        result += text[at];
    }
    return result;
}

// Row texts often carry what came from outside (server answers, archive names, file contents):
// control characters are shown as \xNN, as log lines show them, so that none can end the line,
// move the cursor or switch colours.
std::wstring Escaped(std::wstring_view text)
{
    std::wstring result;
    result.reserve(text.size());
    for (wchar_t c : text)
    {
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F))
            result += fmt::format(L"\\x{:02x}", static_cast<unsigned>(c));
        else
            result += c;
    }
    return result;
}

} // namespace

Console::Console() : Console(MakeSystemConsoleDevice()) {}

Console::Console(std::unique_ptr<ConsoleDevice> device) : device_(std::move(device))
{
    // Redirected streams stay as they are; a console handle gives way to the parent's console.
    auto keep = [this](DWORD which, Channel& channel) -> HANDLE {
        HANDLE handle = device_->StdHandle(which);
        HandleKind kind = device_->Classify(handle);
        if (kind == HandleKind::FileOrPipe)
            channel = {handle, false};
        return kind == HandleKind::Console ? handle : nullptr;
    };
    HANDLE outputConsole = keep(STD_OUTPUT_HANDLE, output_);
    HANDLE errorConsole = keep(STD_ERROR_HANDLE, error_);

    bool escapesSwitchedOn = false;
    if (!output_.handle || !error_.handle)
    {
        attached_ = device_->AttachToParent();
        if (!attached_)
        {
            // No parent console to attach to, yet the process was given a console (Wine in a Unix
            // terminal, for one): writing there shows the output where the user typed the command.
            if (!output_.handle && outputConsole)
                output_ = {outputConsole, true};
            if (!error_.handle && errorConsole)
                error_ = {errorConsole, true};
            if (output_.console)
                escapesSwitchedOn = device_->EnableEscapeSequences(output_.handle);
            // A console of its own only for a start that shows a window (Explorer, a shortcut): a
            // program started hidden or detached has nobody to read it or press a key.
            if (!output_.handle && !error_.handle && device_->StartedToBeShown())
                allocated_ = device_->Allocate();
        }
    }
    if (attached_ || allocated_)
    {
        if (HANDLE console = device_->OpenConsoleOutput())
        {
            if (!output_.handle)
                output_ = {console, true};
            if (!error_.handle)
                error_ = {console, true};
            escapesSwitchedOn = device_->EnableEscapeSequences(console);
        }
    }
    if (!output_.handle)
        output_ = error_;
    if (!error_.handle)
        error_ = output_;
    progress_ = error_.console ? error_ : output_;
    escapes_ = escapesSwitchedOn && output_.console;
    if (allocated_)
        device_->SetTitle(L"Peldra");
}

Console::~Console()
{
    try
    {
        Close();
    }
    catch (...)
    {
        // Nothing more can be shown at this point.
    }
}

void Console::Write(Stream stream, std::wstring_view text)
{
    Write(Of(stream), text);
}

void Console::Write(const Channel& channel, std::wstring_view text)
{
    if (!channel.handle || text.empty())
        return;
    if (channel.console)
        device_->WriteText(channel.handle, text);
    else
        device_->WriteBytes(channel.handle, Core::ToUtf8(WithCrLf(text)));
}

void Console::Row(Level level, std::wstring_view text)
{
    EndProgress();
    RowLook look = LookOf(level);
    std::wstring shown = Escaped(text);
    std::wstring line = escapes_ ? fmt::format(L"{}{}\x1b[0m {}\n", look.colour, look.tag, shown)
                                 : fmt::format(L"{} {}\n", look.tag, shown);
    Write(level == Level::Error ? Stream::Error : Stream::Output, line);
}

int Console::Width()
{
    if (!progress_.console)
        return 80;
    std::optional<int> columns = device_->WindowColumns(progress_.handle);
    return columns ? std::clamp(*columns, 40, 200) : 80;
}

void Console::Progress(std::wstring_view label, double fraction, std::wstring_view detail)
{
    if (!progressEnabled_)
        return;
    if (!label_ || *label_ != label)
    {
        if (lineOpen_)
        {
            Write(progress_, L"\n");
            lineOpen_ = false;
        }
        label_ = std::wstring(label);
        lastDraw_.reset();
        fullDrawn_ = false;
    }

    std::uint64_t now = device_->TickCount();
    bool full = fraction >= 1.0;
    if (full && fullDrawn_)
        return;
    std::uint64_t interval = progress_.console ? ConsoleDrawInterval : FileDrawInterval;
    if (!full && lastDraw_ && now - *lastDraw_ < interval)
        return;
    lastDraw_ = now;
    fullDrawn_ = full;

    if (progress_.console)
    {
        ProgressLook look{Width(), escapes_, true};
        Write(progress_, L"\r" + ProgressLine(label, fraction, detail, look));
        lineOpen_ = true;
    }
    else
    {
        ProgressLook look{FileColumns, false, false};
        Write(progress_, ProgressLine(label, fraction, detail, look) + L"\n");
    }
}

void Console::EndProgress()
{
    if (!lineOpen_)
        return;
    lineOpen_ = false;
    std::wstring blank = L"\r";
    blank.append(static_cast<std::size_t>(Width() - 1), L' ');
    blank += L'\r';
    Write(progress_, blank);
}

void Console::FlushLine()
{
    if (lineOpen_ && progress_.console)
    {
        Write(progress_, L"\n");
        lineOpen_ = false;
    }
    label_.reset();
    lastDraw_.reset();
}

void Console::Close()
{
    if (closed_)
        return;
    closed_ = true;
    FlushLine();
    if (allocated_)
    {
        // The program opened this console window: keep it until the user has read it.
        EndProgress();
        Write(Stream::Output, L"\nPress any key to close this window.");
        device_->WaitForKey();
    }
    else if (attached_)
    {
        device_->PressEnter();
    }
    device_->CloseConsoleOutput();
    if (attached_ || allocated_)
        device_->Detach();
}

} // namespace Pd::Cli
