#include "core/host/TrayHooks.h"

#include <memory>

namespace Pd::Host
{

void NotifyRefresh()
{
    if (HWND window = TrayHooks::window.load())
        ::PostMessageW(window, TrayRefreshMessage, 0, 0);
}

void NotifyBalloon(const std::wstring& title, const std::wstring& text)
{
    HWND window = TrayHooks::window.load();
    if (window == nullptr)
        return;
    auto balloon = std::make_unique<TrayBalloon>(TrayBalloon{title, text});
    if (::PostMessageW(window, TrayBalloonMessage, 0, reinterpret_cast<LPARAM>(balloon.get())))
        static_cast<void>(balloon.release()); // the tray window frees it
}

bool NotifyRegistrationOffer()
{
    HWND window = TrayHooks::window.load();
    return window != nullptr && ::PostMessageW(window, TrayRegistrationMessage, 0, 0) != FALSE;
}

void PublishTrayHooks(HWND window)
{
    TrayHooks::window.exchange(window);
    TrayHooks::refresh.exchange(&NotifyRefresh);
    TrayHooks::balloon.exchange(&NotifyBalloon);
    TrayHooks::registrationOffer.exchange(&NotifyRegistrationOffer);
}

void ClearTrayHooks()
{
    TrayHooks::refresh.exchange(nullptr);
    TrayHooks::balloon.exchange(nullptr);
    TrayHooks::registrationOffer.exchange(nullptr);
    TrayHooks::window.exchange(nullptr);
}

void CallRefreshHook()
{
    if (RefreshHook hook = TrayHooks::refresh.load())
        hook();
}

void CallBalloonHook(const std::wstring& title, const std::wstring& text)
{
    if (BalloonHook hook = TrayHooks::balloon.load())
        hook(title, text);
}

bool CallRegistrationOfferHook()
{
    RegistrationOfferHook hook = TrayHooks::registrationOffer.load();
    return hook != nullptr && hook();
}

} // namespace Pd::Host
