#include "core/host/TrayHooks.h"

#include "core/Handles.h"
#include "core/host/HostChange.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

namespace
{

using namespace Pd::Host;

// A message-only window standing in for the tray window: it collects what the hooks post.
class TrayStandIn
{
public:
    struct Received
    {
        UINT message;
        std::wstring title;
        std::wstring text;
    };

    TrayStandIn()
        : window_(
              ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr))
    {
    }
    ~TrayStandIn() { ::DestroyWindow(window_); }

    HWND Window() const { return window_; }

    // Collects the hook messages posted so far. Each hook posts before it returns, so what a test
    // made a hook post is in this thread's queue already: nothing is waited for.
    const std::vector<Received>& Pump()
    {
        MSG message;
        while (::PeekMessageW(&message, window_, TrayRefreshMessage, TrayRegistrationMessage, PM_REMOVE))
        {
            Received received{message.message, {}, {}};
            if (message.message == TrayBalloonMessage)
            {
                std::unique_ptr<TrayBalloon> balloon(reinterpret_cast<TrayBalloon*>(message.lParam));
                received.title = balloon->title;
                received.text = balloon->text;
            }
            received_.push_back(std::move(received));
        }
        return received_;
    }

private:
    HWND window_ = nullptr;
    std::vector<Received> received_;
};

TEST(TrayHooks, PublishedHooksPostToTheTrayWindowFromAnyThread)
{
    TrayStandIn tray;
    PublishTrayHooks(tray.Window());
    bool offered = false;
    std::thread caller([&] {
        CallRefreshHook();
        CallBalloonHook(L"Root granted", L"com.example asked for root");
        offered = CallRegistrationOfferHook();
    });
    caller.join(); // its posts are in this thread's queue now
    const auto& received = tray.Pump();
    ClearTrayHooks();

    EXPECT_TRUE(offered);
    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(received[0].message, static_cast<UINT>(WM_APP + 2));
    EXPECT_EQ(received[1].message, static_cast<UINT>(WM_APP + 3));
    EXPECT_EQ(received[1].title, L"Root granted");
    EXPECT_EQ(received[1].text, L"com.example asked for root");
    EXPECT_EQ(received[2].message, static_cast<UINT>(WM_APP + 4));
}

// The host's change signal reaches both watchers: the window's event and the tray's refresh.
TEST(TrayHooks, TheHostChangeSignalSetsTheWindowsEventAndRefreshesTheTray)
{
    Pd::UniqueHandle changed(::CreateEventW(nullptr, FALSE, FALSE, HostChangedEventName));
    ASSERT_TRUE(changed);
    TrayStandIn tray;
    PublishTrayHooks(tray.Window());
    SignalHostChanged();
    const auto& received = tray.Pump();
    ClearTrayHooks();

    EXPECT_EQ(::WaitForSingleObject(changed.Get(), 0), WAIT_OBJECT_0);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].message, TrayRefreshMessage);
    SignalHostChanged(); // without an icon the window is still told
    EXPECT_EQ(::WaitForSingleObject(changed.Get(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(tray.Pump().size(), 1u);
}

TEST(TrayHooks, ClearingTakesEveryHookAndTheWindowAway)
{
    TrayStandIn tray;
    PublishTrayHooks(tray.Window());
    EXPECT_EQ(TrayHooks::window.load(), tray.Window());
    ClearTrayHooks();
    EXPECT_EQ(TrayHooks::window.load(), nullptr);
    EXPECT_EQ(TrayHooks::refresh.load(), nullptr);
    EXPECT_EQ(TrayHooks::balloon.load(), nullptr);
    EXPECT_EQ(TrayHooks::registrationOffer.load(), nullptr);
    CallRefreshHook();
    CallBalloonHook(L"title", L"text");
    EXPECT_FALSE(CallRegistrationOfferHook());
    // The hook functions themselves find no window either.
    NotifyRefresh();
    NotifyBalloon(L"t", L"x");
    EXPECT_FALSE(NotifyRegistrationOffer());
    EXPECT_TRUE(tray.Pump().empty());
}

TEST(TrayHooks, AnOfferToAWindowThatIsGoneIsNotTaken)
{
    HWND gone = nullptr;
    {
        TrayStandIn tray;
        gone = tray.Window();
    }
    TrayHooks::window.store(gone);
    EXPECT_FALSE(NotifyRegistrationOffer());
    NotifyBalloon(L"t", L"x"); // posting fails: the payload is freed, nothing is delivered
    TrayHooks::window.store(nullptr);
}

} // namespace
