#include "host/hello/LockWatch.h"

#include "core/Log.h"
#include "host/hello/HelloSession.h"

#include <wtsapi32.h>

#include <fmt/format.h>

namespace Pd::Bio::Hello
{
namespace
{

constexpr const wchar_t* LockWatchClass = L"Peldra.HelloLockWatch";

void Forget()
{
    ++Remembered().generation;
}

LRESULT CALLBACK LockWatchProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message)
    {
    case WM_WTSSESSION_CHANGE:
        if (wParam == WTS_CONSOLE_DISCONNECT || wParam == WTS_REMOTE_DISCONNECT ||
            wParam == WTS_SESSION_LOGOFF || wParam == WTS_SESSION_LOCK)
        {
            Forget();
            Core::Log("hello: Windows locked or left, a remembered verification is forgotten");
        }
        return 0;
    case WM_CLOSE:
        ::DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        ::WTSUnRegisterSessionNotification(window);
        ::PostQuitMessage(0);
        return 0;
    default:
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
}

} // namespace

void LockWatch::Run(std::stop_token stop)
{
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = &LockWatchProc;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = LockWatchClass;
    ::RegisterClassExW(&windowClass); // may exist from an earlier watch
    HWND window = ::CreateWindowExW(0, LockWatchClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    windowClass.hInstance, nullptr);
    if (window == nullptr)
        return; // nothing is ever remembered
    if (!::WTSRegisterSessionNotification(window, NOTIFY_FOR_THIS_SESSION))
    {
        Core::Log(fmt::format("hello: no session notifications (error {}), Windows Hello is never remembered",
                              ::GetLastError()));
        ::DestroyWindow(window);
        return;
    }
    {
        // Also at once, when the stop came before the window.
        std::stop_callback close(stop, [window] { ::PostMessageW(window, WM_CLOSE, 0, 0); });
        if (!stop.stop_requested())
            Remembered().sessionNotifications.store(true);
        MSG message;
        while (::GetMessageW(&message, nullptr, 0, 0) > 0)
            ::DispatchMessageW(&message);
    }
    Remembered().sessionNotifications.store(false);
    Forget();
}

} // namespace Pd::Bio::Hello
