// Whether an icon event came with the user's own click or key at the icon. The icon's callback
// message passes UIPI to the elevated host, so any program of the user can post it; it can also
// move the cursor onto the icon and make the session's last input as recent as it likes. The menu
// (and the window brought forward) would then open under the cursor, where the user's next click
// lands on whatever item lies there. So the tray decides from the press itself, as a low-level
// hook saw it: not injected, down and up at the icon, just before the event, and not yet used by
// an earlier event. The decisions are pure functions, so that their cases are testable without
// the shell.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>

namespace Pd::Host
{

// The icon's id in the shell; the callback message of version 4 names it in HIWORD(lParam).
inline constexpr UINT TrayIconId = 1;
// A press or key older than this is not the one the event reports.
inline constexpr DWORD RecentInputMs = 1000;
// How far off the icon's edge a press may land and the shell still count it, and how far off its
// edge the shell may anchor a key's event.
inline constexpr LONG IconSlack = 4;

enum class MouseButton
{
    Left,
    Right
};

// One button going down or up, as the low-level mouse hook saw it.
struct ButtonEvent
{
    MouseButton button = MouseButton::Left;
    bool down = false;
    POINT point{};
    bool injected = false; // LLMHF_INJECTED or LLMHF_LOWER_IL_INJECTED: SendInput, mouse_event
    DWORD tick = 0;        // GetTickCount when the hook saw it
};

// The latest press of a mouse button.
struct ObservedPress
{
    MouseButton button = MouseButton::Left;
    POINT down{}, up{};
    bool downSeen = false; // the same button went down before it went up
    bool upSeen = false;   // false while the button is held
    bool injected = false; // either half was injected
    DWORD upTick = 0;
    std::uint64_t serial = 0; // 0 before the first press; presses and keys count up together
};

// The latest press of a key that acts on a notification icon holding the focus.
struct ObservedKey
{
    bool injected = false; // LLKHF_INJECTED or LLKHF_LOWER_IL_INJECTED
    DWORD tick = 0;
    std::uint64_t serial = 0; // 0 before the first such key
};

// The press after one more button event. A down starts a new press numbered `serial`; an up
// completes the press its button started, or else stands alone as a new press.
ObservedPress NextPress(const ObservedPress& last, const ButtonEvent& event, std::uint64_t serial);

// Enter and Space select the focused icon; the menu key and F10 (with Shift) open its menu.
bool IsIconActivationKey(DWORD virtualKey);

struct IconEventFacts
{
    UINT event = 0;  // LOWORD(lParam) of the callback message
    UINT iconId = 0; // the icon the message names
    POINT anchor{};  // where the message says the event happened (wParam)
    DWORD now = 0;   // GetTickCount when the message arrived
    ObservedPress press;
    ObservedKey key;
    std::uint64_t usedSerial = 0;    // the latest press or key an earlier event acted on
    std::optional<RECT> iconArea;    // the icon on screen, when the shell tells it
    bool shellKnowsIconAreas = true; // false for a shell without Shell_NotifyIconGetRect (Wine's)
    bool pressOverTray = false;      // the press went down and up on the notification area's windows
    bool trayForeground = false;     // the foreground window is the notification area's
};

struct IconEventInput
{
    POINT at;             // where to open what the event asks for
    std::uint64_t serial; // the press or key it used, which no later event may use again
};

// The user's input that an event of the icon's reports: a mouse event's press, opened at the
// point where the button went up; a key's event, opened at the icon. None when the event came
// without such input, which is how a message another program posted looks, also after it moved
// the cursor there or injected a click or a key.
std::optional<IconEventInput> UserEventInput(const IconEventFacts& facts);

} // namespace Pd::Host
