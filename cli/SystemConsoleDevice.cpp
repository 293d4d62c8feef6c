// The console device of a real process: the Windows console functions.
#include "cli/ConsoleDevice.h"

#include "core/Handles.h"

#include <algorithm>

namespace Pd::Cli
{
namespace
{

bool IsUsable(HANDLE handle)
{
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

UniqueFile OpenConsoleFile(const wchar_t* name)
{
    return UniqueFile(::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
}

// The Windows writers take 32-bit lengths and may write less than asked; write in pieces.
template <typename Unit, typename WriteOnce> void WriteAll(std::basic_string_view<Unit> data, WriteOnce write)
{
    constexpr std::size_t Piece = 16 * 1024;
    while (!data.empty())
    {
        DWORD asked = static_cast<DWORD>(std::min(data.size(), Piece));
        DWORD written = 0;
        if (!write(data.data(), asked, &written) || written == 0)
            return;
        data.remove_prefix(std::min<std::size_t>(written, data.size()));
    }
}

class SystemConsoleDevice final : public ConsoleDevice
{
public:
    HANDLE StdHandle(DWORD which) override { return ::GetStdHandle(which); }

    HandleKind Classify(HANDLE handle) override { return ClassifyHandle(handle); }

    bool AttachToParent() override { return ::AttachConsole(ATTACH_PARENT_PROCESS) != FALSE; }

    bool StartedToBeShown() override
    {
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        ::GetStartupInfoW(&startup);
        return (startup.dwFlags & STARTF_USESHOWWINDOW) && startup.wShowWindow != SW_HIDE;
    }

    bool Allocate() override { return ::AllocConsole() != FALSE; }

    HANDLE OpenConsoleOutput() override
    {
        output_ = OpenConsoleFile(L"CONOUT$");
        return output_ ? output_.Get() : nullptr;
    }

    bool EnableEscapeSequences(HANDLE console) override
    {
        DWORD mode = 0;
        if (!::GetConsoleMode(console, &mode))
            return false;
        return ::SetConsoleMode(console,
                                mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != FALSE;
    }

    void SetTitle(std::wstring_view title) override { ::SetConsoleTitleW(std::wstring(title).c_str()); }

    void WriteText(HANDLE console, std::wstring_view text) override
    {
        WriteAll(text, [console](const wchar_t* data, DWORD size, DWORD* written) {
            return ::WriteConsoleW(console, data, size, written, nullptr) != FALSE;
        });
    }

    void WriteBytes(HANDLE file, std::string_view bytes) override
    {
        WriteAll(bytes, [file](const char* data, DWORD size, DWORD* written) {
            return ::WriteFile(file, data, size, written, nullptr) != FALSE;
        });
    }

    std::optional<int> WindowColumns(HANDLE console) override
    {
        CONSOLE_SCREEN_BUFFER_INFO info{};
        if (!::GetConsoleScreenBufferInfo(console, &info))
            return std::nullopt;
        return info.srWindow.Right - info.srWindow.Left + 1;
    }

    std::uint64_t TickCount() override { return ::GetTickCount64(); }

    void WaitForKey() override
    {
        UniqueFile input = OpenConsoleFile(L"CONIN$");
        if (!input)
            return;
        ::FlushConsoleInputBuffer(input.Get());
        for (;;)
        {
            INPUT_RECORD record{};
            DWORD read = 0;
            if (!::ReadConsoleInputW(input.Get(), &record, 1, &read) || read == 0)
                return;
            if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown)
                return;
        }
    }

    void PressEnter() override
    {
        UniqueFile input = OpenConsoleFile(L"CONIN$");
        if (!input)
            return;
        INPUT_RECORD keys[2]{};
        for (int at = 0; at < 2; ++at)
        {
            KEY_EVENT_RECORD& key = keys[at].Event.KeyEvent;
            keys[at].EventType = KEY_EVENT;
            key.bKeyDown = at == 0;
            key.wRepeatCount = 1;
            key.wVirtualKeyCode = VK_RETURN;
            key.wVirtualScanCode = static_cast<WORD>(::MapVirtualKeyW(VK_RETURN, MAPVK_VK_TO_VSC));
            key.uChar.UnicodeChar = L'\r';
            key.dwControlKeyState = 0;
        }
        DWORD written = 0;
        ::WriteConsoleInputW(input.Get(), keys, 2, &written);
    }

    void CloseConsoleOutput() override { output_.Reset(); }

    void Detach() override { ::FreeConsole(); }

private:
    UniqueFile output_;
};

} // namespace

HandleKind ClassifyHandle(HANDLE handle)
{
    if (!IsUsable(handle))
        return HandleKind::None;
    switch (::GetFileType(handle))
    {
    case FILE_TYPE_DISK:
    case FILE_TYPE_PIPE:
        return HandleKind::FileOrPipe;
    case FILE_TYPE_CHAR: {
        DWORD mode = 0;
        return ::GetConsoleMode(handle, &mode) ? HandleKind::Console : HandleKind::FileOrPipe;
    }
    default:
        return HandleKind::None;
    }
}

std::unique_ptr<ConsoleDevice> MakeSystemConsoleDevice()
{
    return std::make_unique<SystemConsoleDevice>();
}

} // namespace Pd::Cli
