// The tray thread's hidden window: it owns the notification icon and answers the icon's events,
// the hooks' messages and the menu's commands. Everything here runs on the tray thread.
#pragma once

#include "host/tray/IconInput.h"
#include "host/tray/InputWatch.h"
#include "host/tray/StoppableJob.h"
#include "host/tray/TrayIcon.h"

#include <windows.h>

#include <shellapi.h>

#include <cstdint>
#include <optional>
#include <string>

namespace Pd::Host
{

class TrayWindow
{
public:
    TrayWindow(HANDLE stopEvent, const TrayActions& actions) : stopEvent_(stopEvent), actions_(actions) {}
    TrayWindow(const TrayWindow&) = delete;
    TrayWindow& operator=(const TrayWindow&) = delete;

    // Registers the class (an earlier tray of the process may have done so) and creates the
    // window; null when it cannot be created.
    HWND Create();

    // Adds the icon anew (also after the shell restarted) and refreshes it.
    void AddIcon();

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    // An icon event of the callback message: its event, the icon it names and its anchor point.
    void OnIconEvent(UINT event, UINT iconId, WPARAM anchor);
    // What the window sees of the user's input when an icon event arrives.
    IconEventFacts EventFacts(UINT event, UINT iconId, WPARAM anchor) const;
    // The user's press or key that the event reports, used up by this event; none when it came
    // without one.
    std::optional<POINT> TakeUserInput(UINT event, UINT iconId, WPARAM anchor);
    void OnCommand(UINT id);
    // Asks before the user's choice is stored.
    bool ConfirmRoot(RootChoice choice);
    void OnDestroy();
    void Refresh();
    void RefreshIcon(bool updatePending);
    void ShowBalloon(const std::wstring& title, const std::wstring& text);
    void ShowMenu(POINT at);
    NOTIFYICONDATAW IconData(UINT flags) const;

    HANDLE stopEvent_;
    const TrayActions& actions_;
    HWND window_ = nullptr; // null once the window is destroyed
    UINT taskbarCreated_ = 0;
    bool offerPending_ = false;   // the balloon on screen is the registration offer
    bool badgeShown_ = false;     // the icon shown carries the update badge
    StoppableJob stopAndroid_;    // stopping Android waits up to a minute; the menu stays usable
    InputWatch input_;            // the user's own presses and keys, which icon events must match
    std::uint64_t usedInput_ = 0; // the press or key the latest icon event acted on
};

} // namespace Pd::Host
