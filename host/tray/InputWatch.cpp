#include "host/tray/InputWatch.h"

#include <algorithm>
#include <system_error>

namespace Pd::Host
{
namespace
{

// Low-level hooks are called on the thread that set them, with no context of their own.
thread_local InputWatch* watchOfThisThread = nullptr;

bool MouseInjected(DWORD flags)
{
    return (flags & (LLMHF_INJECTED | LLMHF_LOWER_IL_INJECTED)) != 0;
}

bool KeyInjected(DWORD flags)
{
    return (flags & (LLKHF_INJECTED | LLKHF_LOWER_IL_INJECTED)) != 0;
}

} // namespace

InputWatch::InputWatch()
{
    UniqueHandle ready(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!ready)
        return;
    try
    {
        thread_ = std::jthread([this, event = ready.Get()] { Run(event); });
    }
    catch (const std::system_error&)
    {
        return; // nothing watched: no icon event counts as the user's
    }
    // Run sets it on every path, before it can block.
    ::WaitForSingleObject(ready.Get(), INFINITE);
}

InputWatch::~InputWatch()
{
    if (!thread_.joinable())
        return;
    // The thread made its queue before it said it was ready, so the message cannot be lost.
    ::PostThreadMessageW(threadId_.load(), WM_QUIT, 0, 0);
    thread_.join();
}

ObservedInput InputWatch::Latest() const
{
    std::lock_guard guard(lock_);
    return latest_;
}

void InputWatch::Run(HANDLE ready)
{
    MSG message;
    ::PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE); // makes the thread's queue
    threadId_ = ::GetCurrentThreadId();
    watchOfThisThread = this;
    HINSTANCE module = ::GetModuleHandleW(nullptr);
    UniqueHook mouse(::SetWindowsHookExW(WH_MOUSE_LL, &InputWatch::OnMouse, module, 0));
    UniqueHook keys(::SetWindowsHookExW(WH_KEYBOARD_LL, &InputWatch::OnKey, module, 0));
    watching_ = static_cast<bool>(mouse);
    ::SetEvent(ready);
    if (!mouse)
        return;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0)
        ::DispatchMessageW(&message);
}

LRESULT CALLBACK InputWatch::OnMouse(int code, WPARAM message, LPARAM data)
{
    if (code == HC_ACTION && watchOfThisThread != nullptr)
    {
        const auto* info = reinterpret_cast<const MSLLHOOKSTRUCT*>(data);
        ButtonEvent event{MouseButton::Left, false, info->pt, MouseInjected(info->flags), ::GetTickCount()};
        bool button = true;
        switch (message)
        {
        case WM_LBUTTONDOWN:
            event.down = true;
            break;
        case WM_LBUTTONUP:
            break;
        case WM_RBUTTONDOWN:
            event.button = MouseButton::Right;
            event.down = true;
            break;
        case WM_RBUTTONUP:
            event.button = MouseButton::Right;
            break;
        default:
            button = false; // moves (SetCursorPos makes them too), wheels and other buttons
            break;
        }
        if (button)
            watchOfThisThread->Record(event);
    }
    return ::CallNextHookEx(nullptr, code, message, data);
}

LRESULT CALLBACK InputWatch::OnKey(int code, WPARAM message, LPARAM data)
{
    if (code == HC_ACTION && watchOfThisThread != nullptr &&
        (message == WM_KEYDOWN || message == WM_SYSKEYDOWN))
    {
        const auto* info = reinterpret_cast<const KBDLLHOOKSTRUCT*>(data);
        // Only the time of the keys that act on an icon is kept, nothing of what the user types.
        if (IsIconActivationKey(info->vkCode))
            watchOfThisThread->RecordKey(KeyInjected(info->flags), ::GetTickCount());
    }
    return ::CallNextHookEx(nullptr, code, message, data);
}

void InputWatch::Record(const ButtonEvent& event)
{
    try
    {
        std::lock_guard guard(lock_);
        latest_.press = NextPress(latest_.press, event, serial_ + 1);
        serial_ = std::max(serial_, latest_.press.serial);
    }
    catch (const std::system_error&)
    {
        // Nothing may unwind into the system's hook call; the event is not recorded.
    }
}

void InputWatch::RecordKey(bool injected, DWORD tick)
{
    try
    {
        std::lock_guard guard(lock_);
        latest_.key = {injected, tick, ++serial_};
    }
    catch (const std::system_error&)
    {
        // As above.
    }
}

} // namespace Pd::Host
