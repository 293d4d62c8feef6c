// Runs one notification-area icon with the program's icon and real actions, says when it is up,
// and ends when its "Stop the background services" command sets the Stop event (exit 0), or
// after 120 s (exit 1). With "forge", it is instead another program that posts the icon's
// context-menu event to the running tray, anchored at the cursor (exit 0 once posted).
#include "core/Handles.h"
#include "core/host/TrayHooks.h"
#include "host/tray/TrayIcon.h"
#include "tests/support/HangLimit.h"

#include <windows.h>

#include <string_view>

namespace
{

void Say(std::string_view line)
{
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written,
                nullptr);
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR arguments, int)
{
    if (arguments != nullptr && std::wstring_view(arguments) == L"forge")
    {
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
