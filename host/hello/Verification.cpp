// The Windows Hello prompt: shown on a transparent owner window of its own, so that it comes to
// the front even when the caller has no window, while the calling thread keeps dispatching its
// window messages.
#include "host/hello/WindowsHello.h"

#include "core/Handles.h"
#include "platform/UserConsent.h"

#include <memory>
#include <optional>

namespace Pd::Bio
{
namespace
{

// UserConsentVerificationResult, as Windows numbers it.
enum ConsentResult : std::uint32_t
{
    ConsentVerified = 0,
    ConsentDeviceNotPresent = 1,
    ConsentNotConfigured = 2,
    ConsentDisabledByPolicy = 3,
    ConsentDeviceBusy = 4,
    ConsentRetriesExhausted = 5,
    ConsentCanceled = 6,
};

constexpr DWORD OwnerExStyle = WS_EX_LAYERED | WS_EX_TOOLWINDOW | WS_EX_TOPMOST; // 0x80088
constexpr DWORD OwnerStyle = WS_POPUP;                                           // 0x80000000

// A 1 x 1 pixel, fully transparent pop-up in the middle of the screen; none when it cannot be made.
UniqueWindow CreateOwnerWindow()
{
    int width = ::GetSystemMetrics(SM_CXSCREEN);
    int height = ::GetSystemMetrics(SM_CYSCREEN);
    UniqueWindow window(::CreateWindowExW(OwnerExStyle, L"STATIC", L"Peldra", OwnerStyle, width / 2,
                                          height / 2, 1, 1, nullptr, nullptr, ::GetModuleHandleW(nullptr),
                                          nullptr));
    if (window)
    {
        ::SetLayeredWindowAttributes(window.Get(), 0, 0, LWA_ALPHA);
        ::ShowWindow(window.Get(), SW_SHOWNOACTIVATE);
        ::SetForegroundWindow(window.Get());
    }
    return window;
}

// Dispatches the thread's messages until `event` is signalled, or the wait fails. A WM_QUIT taken
// off the queue meanwhile is posted again afterwards, so that the caller's own message loop still
// ends.
Platform::Outcome<> DispatchMessagesUntil(HANDLE event)
{
    Platform::Outcome<> outcome;
    std::optional<WPARAM> quit;
    for (;;)
    {
        DWORD woke = ::MsgWaitForMultipleObjects(1, &event, FALSE, INFINITE, QS_ALLINPUT);
        if (woke == WAIT_OBJECT_0)
            break;
        if (woke != WAIT_OBJECT_0 + 1)
        {
            outcome = Platform::Failure(HRESULT_FROM_WIN32(::GetLastError()), L"MsgWaitForMultipleObjects");
            break;
        }
        MSG message{};
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        {
            if (message.message == WM_QUIT)
            {
                quit = message.wParam;
                continue;
            }
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
    if (quit)
        ::PostQuitMessage(static_cast<int>(*quit));
    return outcome;
}

// Shows the prompt and returns Windows' UserConsentVerificationResult unchanged.
Platform::Outcome<std::uint32_t> Verify(const std::wstring& text, std::stop_token stop)
{
    // Declared in the reverse order of clean-up: the stop callback goes first, then the
    // operation and the event, the owner window last.
    UniqueWindow owner = CreateOwnerWindow();
    auto requested = Platform::UserConsent()->RequestVerification(owner.Get(), text);
    if (!requested)
        return std::unexpected(std::move(requested.error()));
    std::unique_ptr<Platform::ConsentRequest>& operation = *requested;
    // Shared with the completion handler, which Windows may still run after this returns.
    auto done = std::make_shared<UniqueHandle>(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!*done)
        return Platform::Failure(HRESULT_FROM_WIN32(::GetLastError()), L"CreateEventW");
    std::stop_callback cancel(stop, [&operation] { operation->Cancel(); });
    operation->OnCompleted([done] { ::SetEvent(done->Get()); });

    if (auto dispatched = DispatchMessagesUntil(done->Get()); !dispatched)
        return std::unexpected(std::move(dispatched.error()));

    if (operation->Status() == Platform::ConsentStatus::Canceled)
        return ConsentCanceled;
    return operation->Result();
}

VerifyResult ToVerifyResult(std::uint32_t result)
{
    switch (result)
    {
    case ConsentVerified:
        return VerifyResult::Verified;
    case ConsentDeviceNotPresent:
    case ConsentNotConfigured:
    case ConsentDisabledByPolicy:
        return VerifyResult::NotAvailable;
    case ConsentDeviceBusy:
        return VerifyResult::Busy;
    case ConsentCanceled:
        return VerifyResult::Canceled;
    default: // retries exhausted, and anything Windows adds later
        return VerifyResult::Failed;
    }
}

} // namespace

VerifyResult RequestVerification(std::wstring_view text, std::stop_token stop)
{
    try
    {
        std::wstring prompt =
            text.empty() ? L"Android (Peldra) requests Windows Hello verification" : std::wstring(text);
        auto result = Verify(prompt, std::move(stop));
        return result ? ToVerifyResult(*result) : VerifyResult::Failed;
    }
    catch (...) // an allocation that failed: nothing leaves the component
    {
        return VerifyResult::Failed;
    }
}

} // namespace Pd::Bio
