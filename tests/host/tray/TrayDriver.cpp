// Runs one notification-area icon with the program's icon and real actions, says when it is up,
// and ends when its "Stop the background services" command sets the Stop event (exit 0), or
// after 120 s (exit 1). With "forge", it is instead another program that posts the icon's
// context-menu event to the running tray, anchored at the cursor (exit 0 once posted); with
// "forge move|key|click X Y" it first puts the cursor at X, Y (SetCursorPos) and, for key and
// click, sends a key or a right click of its own there (SendInput), as the user's input would be.
#include "core/Handles.h"
#include "core/host/TrayHooks.h"
#include "host/tray/TrayIcon.h"
#include "tests/support/HangLimit.h"

#include <windows.h>

#include <shellapi.h>

#include <cwchar>
#include <string_view>

namespace
{

void Say(std::string_view line)
{
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written,
                nullptr);
}

// Moves the cursor to X, Y and sends what the variant names there; false when the words are
// not a variant and a point.
bool ForgeInput(int count, wchar_t** words)
{
    if (count != 4)
        return false;
    const std::wstring_view variant = words[1];
    wchar_t* end = nullptr;
    const long x = std::wcstol(words[2], &end, 10);
    const bool xRead = *end == L'\0';
    const long y = std::wcstol(words[3], &end, 10);
    if (!xRead || *end != L'\0' || !::SetCursorPos(x, y))
        return false;
    if (variant == L"move")
        return true;
    INPUT input[2]{};
    if (variant == L"key")
    {
        input[0].type = input[1].type = INPUT_KEYBOARD;
        input[0].ki.wVk = input[1].ki.wVk = VK_SHIFT;
        input[1].ki.dwFlags = KEYEVENTF_KEYUP;
    }
    else if (variant == L"click")
    {
        input[0].type = input[1].type = INPUT_MOUSE;
        input[0].mi.dwFlags = MOUSEEVENTF_RIGHTDOWN;
        input[1].mi.dwFlags = MOUSEEVENTF_RIGHTUP;
    }
    else
        return false;
    const bool sent = ::SendInput(2, input, sizeof(INPUT)) == 2;
    ::Sleep(200); // the shell's own event for an injected click comes first, as it would
    return sent;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR arguments, int)
{
    int count = 0;
    Pd::Unique<wchar_t**, &::LocalFree> words(::CommandLineToArgvW(arguments, &count));
    if (words && count >= 1 && std::wstring_view(words.Get()[0]) == L"forge")
    {
        if (count > 1 && !ForgeInput(count, words.Get()))
        {
            Say("forge: bad variant or point\n");
            return 2;
        }
        HWND tray = ::FindWindowW(L"Peldra.Tray", nullptr);
        POINT cursor{};
        const bool posted = tray != nullptr && ::GetCursorPos(&cursor) &&
                            ::PostMessageW(tray, Pd::Host::TrayIconMessage, MAKEWPARAM(cursor.x, cursor.y),
                                           MAKELPARAM(WM_CONTEXTMENU, 1));
        Say(posted ? "forge: posted\n" : "forge: no tray window\n");
        return posted ? 0 : 2;
    }
    Pd::UniqueHandle stop(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!stop)
        return 2;
    auto tray = Pd::Host::Tray::Start(stop.Get());
    const ULONGLONG deadline = ::GetTickCount64() + Pd::Test::HangLimitMs;
    while (Pd::Host::TrayHooks::window.load() == nullptr && ::GetTickCount64() < deadline)
        ::Sleep(10);
    Say(Pd::Host::TrayHooks::window.load() != nullptr ? "tray: up\n" : "tray: no window\n");
    const bool stopped = ::WaitForSingleObject(stop.Get(), 120000) == WAIT_OBJECT_0;
    Say(stopped ? "tray: stop command\n" : "tray: no stop command within 120 s\n");
    tray->Close();
    Say("tray: closed\n");
    return stopped ? 0 : 1;
}
