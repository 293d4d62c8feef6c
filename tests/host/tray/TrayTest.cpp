// The tray's thread and window under Wine's null graphics driver: closing in every state, and
// each menu command through the actions seam, the real settings and the Stop event.
#include "core/Handles.h"
#include "core/host/HostControl.h"
#include "core/host/HostObjects.h"
#include "core/host/TrayHooks.h"
#include "core/SetEventOnStop.h"
#include "core/Settings.h"
#include "host/tray/TrayIcon.h"
#include "tests/support/HangLimit.h"
#include "tests/support/OwnWindow.h"

#include <gtest/gtest.h>

#include <shellapi.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace Pd::Host
{
namespace
{

HWND WaitForTrayWindow()
{
    Pd::Test::PollUntil([] { return TrayHooks::window.load() != nullptr; });
    return TrayHooks::window.load();
}

bool NoIconLeft()
{
    return TrayHooks::window.load() == nullptr && TrayHooks::refresh.load() == nullptr &&
           TrayHooks::balloon.load() == nullptr && TrayHooks::registrationOffer.load() == nullptr &&
           Pd::Test::FindOwnWindow(L"Peldra.Tray", nullptr) == nullptr;
}

class TrayTest : public testing::Test
{
protected:
    void SetUp() override
    {
        // A host stand-in, so that the setters wake it instead of starting one.
        hostMutex_.Reset(::CreateMutexW(nullptr, FALSE, HostMutexName));
        reload_.Reset(::CreateEventW(nullptr, FALSE, FALSE, ReloadEventName));
        stop_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        calledAction_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        ASSERT_TRUE(hostMutex_ && reload_ && stop_ && calledAction_);
        for (const wchar_t* name : {L"Bluetooth", L"Elevation", L"ElevationSu", L"ElevationMagisk", L"Tray"})
            Core::WriteUserDword(name, name == std::wstring(L"Tray") ? 1 : 0);
    }

    TrayActions RecordingActions()
    {
        auto record = [this](const char* name, HWND owner = nullptr) {
            std::lock_guard guard(lock_);
            calls_.push_back(name);
            owner_ = owner;
            ::SetEvent(calledAction_.Get());
        };
        TrayActions actions;
        actions.openWindow = [=] { record("window"); };
        actions.openAndroidSettings = [=] { record("settings"); };
        actions.registrationWaiting = [] { return true; };
        actions.openRegistration = [=](HWND owner) { record("registration", owner); };
        actions.confirmRoot = [=, this](HWND owner, RootChoice choice) {
            record(choice.setting == RootSetting::Su ? "confirm su" : "confirm root", owner);
            return confirmAnswer_;
        };
        actions.stopAndroid = [=](std::stop_token) { record("stop android"); };
        actions.openBluetoothLog = [=] { record("log"); };
        return actions;
    }

    std::vector<std::string> Calls()
    {
        std::lock_guard guard(lock_);
        return calls_;
    }

    UniqueHandle hostMutex_, reload_, stop_, calledAction_;
    std::mutex lock_;
    std::vector<std::string> calls_;
    HWND owner_ = nullptr;
    bool confirmAnswer_ = false;
};

TEST_F(TrayTest, ClosesInEveryStateWithoutHanging)
{
    // Closed at once, mostly before the thread has made its window: a window made after the
    // close must not keep the thread alive.
    for (int i = 0; i < 100; ++i)
    {
        auto tray = Tray::Start(stop_.Get(), RecordingActions());
        tray->Close();
        ASSERT_TRUE(NoIconLeft()) << "round " << i;
    }
    // Up and running, closed twice and then destroyed; a new tray gets a new window afterwards.
    for (int round = 0; round < 2; ++round)
    {
        auto tray = Tray::Start(stop_.Get(), RecordingActions());
        ASSERT_NE(WaitForTrayWindow(), nullptr) << "round " << round;
        EXPECT_NE(TrayHooks::refresh.load(), nullptr);
        tray->Close();
        EXPECT_TRUE(NoIconLeft());
        tray->Close();
    }
    // The host loop's way: a close function, which also closes when it is dropped.
    std::function<void()> close = StartTrayIcon(stop_.Get(), RecordingActions());
    ASSERT_NE(WaitForTrayWindow(), nullptr);
    close = nullptr;
    EXPECT_TRUE(NoIconLeft());
    EXPECT_TRUE(Calls().empty());
}

TEST_F(TrayTest, ClosesWhileItsQuestionIsOpen)
{
    TrayActions actions = RecordingActions();
    actions.confirmRoot = [this](HWND owner, RootChoice) {
        ::SetEvent(calledAction_.Get());
        return ::MessageBoxW(owner, L"Turn root on?", L"Root", MB_YESNO) == IDYES;
    };
    auto tray = Tray::Start(stop_.Get(), std::move(actions));
    HWND window = WaitForTrayWindow();
    ASSERT_NE(window, nullptr);
    ::PostMessageW(window, WM_COMMAND, 6, 0);
    ASSERT_EQ(::WaitForSingleObject(calledAction_.Get(), Pd::Test::HangLimitMs), WAIT_OBJECT_0);
    tray->Close();
    EXPECT_TRUE(NoIconLeft());
    EXPECT_EQ(Core::ReadUserDword(L"Elevation"), 0u);
}

// With no window open, "Open Peldra" hands the program to the opener it is given (the desktop
// shell's, with the user's normal rights), never starting it itself; an open window only comes
// forward.
TEST_F(TrayTest, OpenWindowStartsTheProgramOnlyThroughItsOpener)
{
    std::vector<std::wstring> opened;
    const auto open = [&](const Platform::ShellRequest& request) {
        opened.push_back(request.target + L"|" + request.arguments + L"|" + request.folder);
    };
    Detail::OpenWindowWith(open);
    EXPECT_EQ(opened, std::vector<std::wstring>{InstalledHostExePath() + L"||"});

    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = &::DefWindowProcW;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"Peldra.MainWindow";
    ASSERT_NE(::RegisterClassW(&windowClass), 0);
    UniqueWindow window(::CreateWindowExW(0, windowClass.lpszClassName, L"", WS_OVERLAPPEDWINDOW, 0, 0, 10,
                                          10, nullptr, nullptr, windowClass.hInstance, nullptr));
    ASSERT_TRUE(window);
    Detail::OpenWindowWith(open);
    EXPECT_EQ(opened.size(), 1u) << "the open window only comes forward";
    window = UniqueWindow();
    ::UnregisterClassW(windowClass.lpszClassName, windowClass.hInstance);
}

TEST_F(TrayTest, TheBalloonClickOpensTheRegistrationPageOnlyForTheOffer)
{
    // The clicks are posted behind the hooks' messages; closing the tray handles them all.
    auto tray = Tray::Start(stop_.Get(), RecordingActions());
    HWND window = WaitForTrayWindow();
    ASSERT_NE(window, nullptr);
    auto click = [&] { ::PostMessageW(window, TrayIconMessage, 0, NIN_BALLOONUSERCLICK); };
    click(); // no balloon: nothing
    ASSERT_TRUE(CallRegistrationOfferHook());
    click();
    click(); // once only
    tray->Close();
    EXPECT_EQ(Calls(), std::vector<std::string>{"registration"});
    EXPECT_EQ(owner_, window);

    tray = Tray::Start(stop_.Get(), RecordingActions());
    window = WaitForTrayWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(CallRegistrationOfferHook());
    CallBalloonHook(L"Root granted", L"an app runs as root"); // replaces the offer
    click();
    tray->Close();
    EXPECT_EQ(Calls().size(), 1u);
}

// "Stop Tovik" runs on a thread of the tray's own, one at a time; the tray's close asks it to stop
// and waits for it, so it never outlives the tray. Each stand-in runs until the close asks it to
// stop: the one that heeds the stop ends then, the other carries on a while.
TEST_F(TrayTest, ClosingStopsStopTovikAndWaitsForIt)
{
    UniqueHandle never(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    for (const bool heedsStop : {false, true})
    {
        calls_.clear();
        TrayActions actions = RecordingActions();
        actions.stopAndroid = [&, heedsStop](std::stop_token stop) {
            ::SetEvent(calledAction_.Get());
            const bool stopped = !Pd::Core::WaitUnlessStopped(never.Get(), Pd::Test::HangLimitMs, stop) &&
                                 stop.stop_requested();
            if (stopped && !heedsStop)
                std::this_thread::sleep_for(std::chrono::milliseconds(300)); // the close waits for it
            std::lock_guard guard(lock_);
            calls_.push_back(!stopped ? "not stopped" : heedsStop ? "stopped early" : "stopped");
        };
        ::ResetEvent(calledAction_.Get());
        auto tray = Tray::Start(stop_.Get(), std::move(actions));
        HWND window = WaitForTrayWindow();
        ASSERT_NE(window, nullptr);
        ::SendMessageW(window, WM_COMMAND, 8, 0);
        ::SendMessageW(window, WM_COMMAND, 8, 0); // while the first runs: nothing more
        ASSERT_EQ(::WaitForSingleObject(calledAction_.Get(), Pd::Test::HangLimitMs), WAIT_OBJECT_0);
        tray.reset();
        EXPECT_TRUE(NoIconLeft());
        EXPECT_EQ(Calls(), std::vector<std::string>{heedsStop ? "stopped early" : "stopped"});
    }
}

struct CommandCase
{
    const char* name;
    UINT id;
    bool elevationBefore;
    bool confirm;
    std::vector<std::string> calls;
    std::optional<std::pair<const wchar_t*, std::uint32_t>> setting; // value written, and Reload set
    bool stopsHost;
};

TEST_F(TrayTest, EachMenuCommandDoesItsOneThing)
{
    const std::vector<CommandCase> cases{
        {"open", 1, false, false, {"window"}, {}, false},
        {"update", 2, false, false, {"window"}, {}, false},
        {"android settings", 3, false, false, {"settings"}, {}, false},
        {"register", 4, false, false, {"registration"}, {}, false},
        {"bluetooth", 5, false, false, {}, std::pair{L"Bluetooth", 1u}, false},
        {"root on, confirmed", 6, false, true, {"confirm root"}, std::pair{L"Elevation", 1u}, false},
        {"root on, declined", 6, false, false, {"confirm root"}, {}, false},
        {"root off, no question", 6, true, false, {}, std::pair{L"Elevation", 0u}, false},
        {"su on, confirmed", 7, true, true, {"confirm su"}, std::pair{L"ElevationSu", 1u}, false},
        {"su on, declined", 7, true, false, {"confirm su"}, {}, false},
        {"stop android", 8, false, false, {"stop android"}, {}, false},
        {"bluetooth log", 9, false, false, {"log"}, {}, false},
        {"hide icon", 10, false, false, {}, std::pair{L"Tray", 0u}, false},
        {"stop host", 11, false, false, {}, {}, true},
        {"unknown", 99, false, false, {}, {}, false},
    };
    for (const CommandCase& c : cases)
    {
        SetUp();
        Core::WriteUserDword(L"Elevation", c.elevationBefore ? 1 : 0);
        calls_.clear();
        owner_ = nullptr;
        confirmAnswer_ = c.confirm;
        auto tray = Tray::Start(stop_.Get(), RecordingActions());
        HWND window = WaitForTrayWindow();
        ASSERT_NE(window, nullptr) << c.name;
        ::ResetEvent(reload_.Get());
        ::SendMessageW(window, WM_COMMAND, c.id, 0);
        if (c.id == 8) // on a thread of its own
        {
            ASSERT_EQ(::WaitForSingleObject(calledAction_.Get(), Pd::Test::HangLimitMs), WAIT_OBJECT_0)
                << c.name;
        }
        tray.reset();

        EXPECT_EQ(Calls(), c.calls) << c.name;
        if (c.id == 4 || ((c.id == 6 || c.id == 7) && !c.calls.empty()))
        {
            EXPECT_EQ(owner_, window) << c.name;
        }
        if (c.setting)
        {
            EXPECT_EQ(Core::ReadUserDword(c.setting->first), c.setting->second) << c.name;
        }
        EXPECT_EQ(::WaitForSingleObject(reload_.Get(), 0) == WAIT_OBJECT_0, c.setting.has_value()) << c.name;
        EXPECT_EQ(::WaitForSingleObject(stop_.Get(), 0) == WAIT_OBJECT_0, c.stopsHost) << c.name;
        if ((c.id == 6 || c.id == 7) && !c.setting)
        {
            EXPECT_EQ(Core::ReadUserDword(c.id == 6 ? L"Elevation" : L"ElevationSu"), 0u) << c.name;
        }
    }
}

} // namespace
} // namespace Pd::Host
