// Whether an icon event came with the user's own input at the icon. The icon's callback message
// passes UIPI to the elevated host, so any program of the user can post it; the menu (and the
// window brought forward) would then open under the cursor, where the user's next click lands on
// whatever item lies there. The decision is a pure function of what the tray window can see when
// the message arrives, so that its cases are testable without the shell.
#pragma once

#include <windows.h>

#include <optional>

namespace Pd::Host
{

// The icon's id in the shell; the callback message of version 4 names it in HIWORD(lParam).
inline constexpr UINT TrayIconId = 1;
// Input older than this is not the click or key the event reports.
inline constexpr DWORD RecentInputMs = 1000;
// How far the cursor may have moved off the icon since the click, and how far off its edge the
// shell may anchor a key's event.
inline constexpr LONG IconSlack = 4;

struct IconEventFacts
{
    UINT iconId = 0;                 // the icon the message names
    POINT anchor{};                  // where the message says the event happened (wParam)
    POINT cursor{};                  // where the cursor is now
    std::optional<RECT> iconArea;    // the icon on screen, when the shell tells it
    bool shellKnowsIconAreas = true; // false for a shell without Shell_NotifyIconGetRect (Wine's)
    bool cursorOverTray = false;     // the window under the cursor is the notification area's
    bool trayForeground = false;     // the foreground window is the notification area's
    DWORD inputAgeMs = MAXDWORD;     // since the session's last input (GetLastInputInfo)
};

// Where to open what the event asks for: at the cursor for a pointer on the icon, at the icon
// for a key pressed in the notification area. None when the event did not come with recent
// input there, which is how a message another program posted looks.
std::optional<POINT> UserEventPoint(const IconEventFacts& facts);

} // namespace Pd::Host
