#include "host/tray/TrayIcon.h"

#include "core/host/TrayHooks.h"
#include "host/tray/TrayWindow.h"

#include <system_error>

namespace Pd::Host
{

std::unique_ptr<Tray> Tray::Start(HANDLE stopEvent, TrayActions actions)
{
    std::unique_ptr<Tray> tray(new Tray(stopEvent, std::move(actions)));
    try
    {
        tray->thread_ = std::jthread([raw = tray.get()] { raw->Run(); });
    }
    catch (const std::system_error&)
    {
        // No thread, no icon: the host goes on without it.
    }
    return tray;
}

std::function<void()> StartTrayIcon(HANDLE stopEvent, TrayActions actions)
{
    std::shared_ptr<Tray> tray = Tray::Start(stopEvent, std::move(actions));
    return [tray] { tray->Close(); };
}

Tray::Tray(HANDLE stopEvent, TrayActions actions) : stopEvent_(stopEvent), actions_(std::move(actions)) {}

void Tray::Run()
{
    TrayWindow window(stopEvent_, actions_);
    HWND handle = window.Create();
    if (handle == nullptr)
        return;
    try
    {
        window.AddIcon();
    }
    catch (...)
    {
        // Without its tooltip the icon still serves; nothing may leave the thread.
    }
    {
        std::lock_guard guard(lock_);
        if (closing_)
        {
            // Closed while the window was being made: nobody will post WM_CLOSE to it.
            ::DestroyWindow(handle);
            return;
        }
        window_ = handle;
        PublishTrayHooks(handle);
    }
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0)
    {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    // The loop ends with the window's destruction; should it end otherwise, the window must not
    // outlive the object its procedure points to.
    if (::IsWindow(handle))
        ::DestroyWindow(handle);
    std::lock_guard guard(lock_);
    window_ = nullptr;
}

void Tray::Close()
{
    {
        std::lock_guard guard(lock_);
        closing_ = true;
        // The window belongs to the tray thread, so WM_CLOSE waits in that thread's queue even
        // when it is posted before the message loop runs.
        if (window_ != nullptr)
            ::PostMessageW(window_, WM_CLOSE, 0, 0);
    }
    if (thread_.joinable())
        thread_.join();
}

} // namespace Pd::Host
