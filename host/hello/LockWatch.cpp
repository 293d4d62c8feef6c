// The lock watch: a message-only window on a thread of its own that receives this session's
// change notifications; a lock, logoff or disconnect forgets the remembered verification.
#include "host/hello/HelloSession.h"

#include "core/Log.h"

#include <wtsapi32.h>

#include <fmt/format.h>

namespace Pd::Bio::Hello
{
namespace
{

constexpr const wchar_t* LockWatchClass = L"Peldra.HelloLockWatch";

struct LockWatch
{
    std::mutex lock; // guards starting and stopping
    std::atomic<HWND> window{nullptr};
    std::atomic<bool> stop{false};
    std::thread thread;
};

LockWatch& Watch()
{
    static LockWatch* watch = new LockWatch;
    return *watch;
}

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

void RunLockWatch()
{
    LockWatch& watch = Watch();
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
    watch.window.store(window);
    if (watch.stop.load())
        ::DestroyWindow(window);
    else
        Remembered().sessionNotifications.store(true);
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0)
        ::DispatchMessageW(&message);
    Remembered().sessionNotifications.store(false);
    Forget();
    watch.window.store(nullptr);
}

} // namespace

void StartLockWatch()
{
    LockWatch& watch = Watch();
    std::lock_guard guard(watch.lock);
    if (watch.thread.joinable())
        return;
    watch.stop.store(false);
    watch.thread = std::thread(&RunLockWatch);
}

void StopLockWatch()
{
    LockWatch& watch = Watch();
    std::lock_guard guard(watch.lock);
    watch.stop.store(true);
    if (HWND window = watch.window.load())
        ::PostMessageW(window, WM_CLOSE, 0, 0);
    if (watch.thread.joinable())
        watch.thread.join();
}

} // namespace Pd::Bio::Hello
