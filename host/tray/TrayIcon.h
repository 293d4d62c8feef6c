// The notification-area icon of the background host: a thread of its own with a hidden window,
// the icon, its menu and its balloons. Other threads reach it only through the hooks of
// core/host/TrayHooks.h, which are set while the icon exists.
#pragma once

#include "core/host/RootConsent.h"
#include "platform/WebPage.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>

namespace Pd::Host
{

// What the menu's commands and the registration balloon do beyond the host settings, which the
// tray changes itself. Every member is called on the tray thread, except stopAndroid, which runs
// on a thread of its own (one at a time): the tray's close requests its stop and waits for it.
struct TrayActions
{
    std::function<void()> openWindow;                 // "Open Peldra" and the update items
    std::function<void()> openAndroidSettings;        // failures are ignored
    std::function<bool()> registrationWaiting;        // Android handed over a device id not yet registered
    std::function<void(HWND owner)> openRegistration; // the Google Play page, owned by the tray window
    // Asks before root settings are stored that widen what was confirmed (RootConsent.h); true
    // when they may be stored.
    std::function<bool(HWND owner, RootChoice choice)> confirmRoot;
    std::function<void(std::stop_token)> stopAndroid; // "Stop Tovik": ends its waits when asked
    std::function<void()> openBluetoothLog;
};

namespace Detail
{
// "Open Peldra": brings the open window forward, or has `open` start the program, which opens it.
void OpenWindowWith(const std::function<void(const Platform::ShellRequest&)>& open);
} // namespace Detail

// The real actions. Registration is not part of the tray: until registrationWaiting and
// openRegistration are set, the registration item is not shown and a balloon click opens nothing.
TrayActions DefaultTrayActions();

// One icon and its thread. The destructor closes the window and joins the thread; it returns
// also when the thread has not created its window yet or failed to create one.
class Tray
{
public:
    // Starts the tray thread. stopEvent is the host's Stop event (borrowed, set by the last menu
    // command); it must outlive the tray. When no thread can be started the tray shows nothing,
    // as when its window cannot be created.
    static std::unique_ptr<Tray> Start(HANDLE stopEvent, TrayActions actions = DefaultTrayActions());

    ~Tray() { Close(); }
    Tray(const Tray&) = delete;
    Tray& operator=(const Tray&) = delete;

    // Ends the icon and joins the thread; later calls do nothing. Call on the owning thread.
    void Close();

private:
    Tray(HANDLE stopEvent, TrayActions actions);
    void Run();

    HANDLE stopEvent_;
    TrayActions actions_;

    // Close and the tray thread meet here: the thread stores its window only while no close was
    // asked for, and a close takes the window it finds. A window created after the close is
    // destroyed at once by its own thread, which then ends.
    std::mutex lock_;
    HWND window_ = nullptr;
    bool closing_ = false;

    std::jthread thread_;
};

// The same for a caller that keeps a close function: calling it (or dropping it) closes the
// tray and joins its thread.
std::function<void()> StartTrayIcon(HANDLE stopEvent, TrayActions actions = DefaultTrayActions());

} // namespace Pd::Host
