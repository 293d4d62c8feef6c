#include "host/hello/WindowsHello.h"
#include "platform/sim/SimUserConsent.h"
#include "tests/support/HangLimit.h"
#include "tests/support/OwnWindow.h"
#include "tests/support/SimScenario.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace
{

using namespace std::chrono_literals;
using Pd::Bio::RequestVerification;
using Pd::Bio::VerifyResult;
using Pd::Test::SimScenario;

std::string Hello(std::string_view members)
{
    return R"({"hello":{)" + std::string(members) + "}}";
}

// The prompt's owner window, while it exists.
HWND FindOwnerWindow()
{
    return Pd::Test::FindOwnWindow(L"Static", L"Peldra");
}

TEST(RequestVerification, WindowsResultsMapToVerifyResults)
{
    struct Case
    {
        const char* result;
        VerifyResult expected;
    };
    for (const Case& c : {
             Case{"0", VerifyResult::Verified},
             Case{"1", VerifyResult::NotAvailable},
             Case{"2", VerifyResult::NotAvailable},
             Case{"3", VerifyResult::NotAvailable},
             Case{"4", VerifyResult::Busy},
             Case{"5", VerifyResult::Failed}, // retries exhausted is a failure, not "not available"
             Case{"6", VerifyResult::Canceled},
             Case{"9", VerifyResult::Failed},
             Case{R"("fails")", VerifyResult::Failed},
         })
    {
        SimScenario pc(Hello(std::string(R"("result":)") + c.result));
        EXPECT_EQ(RequestVerification(L"Confirm", {}), c.expected) << c.result;
    }
}

TEST(RequestVerification, WithoutWindowsRuntimeItFails)
{
    EXPECT_EQ(RequestVerification(L"Confirm", {}), VerifyResult::Failed);
    EXPECT_EQ(FindOwnerWindow(), nullptr);
}

TEST(RequestVerification, ThePromptHasItsTextAnOwnerWindowAndAnEmptyTextGetsTheDefault)
{
    SimScenario pc(Hello(R"("result":0)"));
    EXPECT_EQ(RequestVerification(L"Grant root to com.example.shell?", {}), VerifyResult::Verified);
    EXPECT_EQ(RequestVerification(L"", {}), VerifyResult::Verified);

    auto prompts = Pd::Platform::Sim::RecordedHelloPrompts(pc.Folder());
    ASSERT_EQ(prompts.size(), 2u);
    EXPECT_EQ(prompts[0].text, L"Grant root to com.example.shell?");
    EXPECT_EQ(prompts[1].text, L"Android (Peldra) requests Windows Hello verification");
    EXPECT_TRUE(prompts[0].ownerWindow);
    EXPECT_TRUE(prompts[1].ownerWindow);
    EXPECT_EQ(FindOwnerWindow(), nullptr) << "the owner window goes with the prompt";
}

TEST(RequestVerification, AStopBeforeTheCallCancelsThePromptAtOnce)
{
    SimScenario pc(Hello(R"("result":0,"promptMs":600000)"));
    std::stop_source stop;
    stop.request_stop();
    EXPECT_EQ(RequestVerification(L"Confirm", stop.get_token()), VerifyResult::Canceled);
}

TEST(RequestVerification, AStopWhileThePromptIsOpenClosesItAndItsTransparentOwner)
{
    SimScenario pc(Hello(R"("result":0,"promptMs":600000)"));
    std::stop_source stop;
    LONG exStyle = 0;
    BYTE alpha = 0xFF;
    bool visible = false;
    std::jthread user([&] {
        // The owner is created first and shown a moment later: wait for both.
        HWND owner = nullptr;
        Pd::Test::PollUntil([&] {
            owner = FindOwnerWindow();
            return owner && (visible = ::IsWindowVisible(owner));
        });
        if (owner)
        {
            exStyle = ::GetWindowLongW(owner, GWL_EXSTYLE);
            DWORD flags = 0;
            ::GetLayeredWindowAttributes(owner, nullptr, &alpha, &flags);
        }
        stop.request_stop();
    });

    EXPECT_EQ(RequestVerification(L"Confirm", stop.get_token()), VerifyResult::Canceled);
    user.join();
    EXPECT_EQ(exStyle & 0x80088, 0x80088) << "layered, tool window, topmost";
    EXPECT_TRUE(visible);
    EXPECT_EQ(alpha, 0);
    EXPECT_EQ(FindOwnerWindow(), nullptr);
}

// A window of the calling thread that counts the messages it is sent or posted.
std::atomic<int> sentSeen{0};
std::atomic<int> postedSeen{0};

LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_APP)
        ++sentSeen;
    if (message == WM_APP + 1)
        ++postedSeen;
    return ::DefWindowProcW(window, message, wParam, lParam);
}

TEST(RequestVerification, TheCallingThreadsMessagesFlowWhileThePromptIsOpenAndAQuitSurvives)
{
    WNDCLASSW type{};
    type.lpfnWndProc = CountingProc;
    type.hInstance = ::GetModuleHandleW(nullptr);
    type.lpszClassName = L"PeldraHelloTestCounter";
    ::RegisterClassW(&type);
    HWND window = ::CreateWindowExW(0, type.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    type.hInstance, nullptr);
    ASSERT_NE(window, nullptr);

    // The prompt would answer "verified" after 3 s; it can only be canceled earlier when the sent
    // message got through while it was open.
    SimScenario pc(Hello(R"("result":0,"promptMs":3000)"));
    std::stop_source stop;
    ::PostMessageW(window, WM_APP + 1, 0, 0);
    ::PostQuitMessage(7);
    std::jthread other([&] {
        ::SendMessageW(window, WM_APP, 0, 0);
        stop.request_stop();
    });

    EXPECT_EQ(RequestVerification(L"Confirm", stop.get_token()), VerifyResult::Canceled);
    other.join();
    EXPECT_EQ(sentSeen, 1);
    EXPECT_EQ(postedSeen, 1);
    MSG quit{};
    EXPECT_TRUE(::PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE))
        << "the caller's loop still sees WM_QUIT";
    EXPECT_EQ(quit.wParam, 7u);
    ::DestroyWindow(window);
}

} // namespace
