// The notification-area icon's process-wide hooks. The tray thread publishes them once its
// window and icon exist and clears them when the window is destroyed; any thread may call a
// hook that is set. A null hook means that there is no icon.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

namespace Pd::Host
{

// Messages the hooks post to the tray window.
inline constexpr UINT TrayIconMessage = WM_APP + 1;         // the icon's callback message
inline constexpr UINT TrayRefreshMessage = WM_APP + 2;      // refresh icon and tooltip
inline constexpr UINT TrayBalloonMessage = WM_APP + 3;      // lParam: TrayBalloon*, freed by the tray
inline constexpr UINT TrayRegistrationMessage = WM_APP + 4; // show the registration offer

// The heap payload of TrayBalloonMessage. The tray window takes ownership of it.
struct TrayBalloon
{
    std::wstring title;
    std::wstring text;
};

using RefreshHook = void (*)();
using BalloonHook = void (*)(const std::wstring& title, const std::wstring& text);
using RegistrationOfferHook = bool (*)();

// The one set of hooks of the process.
struct TrayHooks
{
    static inline std::atomic<RefreshHook> refresh{nullptr};
    static inline std::atomic<BalloonHook> balloon{nullptr};
    static inline std::atomic<RegistrationOfferHook> registrationOffer{nullptr};
    static inline std::atomic<HWND> window{nullptr}; // the tray window the hook functions post to
};

// The hook functions: each posts to the published tray window and does nothing (returns
// false) while none is published. NotifyBalloon frees its payload when posting fails.
void NotifyRefresh();
void NotifyBalloon(const std::wstring& title, const std::wstring& text);
bool NotifyRegistrationOffer();

// Called by the tray thread. Publishing sets the window first and then the refresh, balloon and
// registration-offer hooks; clearing takes the three hooks away first and the window last.
void PublishTrayHooks(HWND window);
void ClearTrayHooks();

// What callers use: each tests its hook and calls it when it is set.
void CallRefreshHook();
void CallBalloonHook(const std::wstring& title, const std::wstring& text);
bool CallRegistrationOfferHook(); // false when there is no icon or it did not take the offer

} // namespace Pd::Host
