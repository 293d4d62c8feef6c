#include "platform/winrt/Async.h"

#include "core/ErrorText.h"
#include "core/Text.h"
#include "platform/winrt/Runtime.h"

#include <new>

namespace Pd::Platform::WinRt
{
namespace
{

constexpr DWORD WaitSliceMs = 50;
// How long a canceled operation may take to report its end before we stop waiting for it.
constexpr DWORD CancelGraceMs = 10'000;

} // namespace

ComPtr<CompletionHandler> CompletionHandler::Make(const GUID& iid, std::function<void()> onEnd)
{
    UniqueHandle ended(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!ended)
        return {};
    return ComPtr<CompletionHandler>::Attach(new (std::nothrow)
                                                 CompletionHandler(iid, std::move(onEnd), std::move(ended)));
}

CompletionHandler::CompletionHandler(const GUID& iid, std::function<void()> onEnd, UniqueHandle ended)
    : Delegate(iid), onEnd_(std::move(onEnd)), ended_(std::move(ended))
{
}

HRESULT STDMETHODCALLTYPE CompletionHandler::Invoke(IInspectable*, Abi::AsyncStatus status)
{
    Abi::AsyncStatus expected = Abi::AsyncStatus::Started;
    if (!status_.compare_exchange_strong(expected, status))
        return S_OK; // runs once
    ::SetEvent(ended_.Get());
    if (onEnd_)
    {
        try
        {
            onEnd_();
        }
        catch (...)
        {
            // never across the caller's edge
        }
    }
    return S_OK;
}

Outcome<> EndingOf(IInspectable* operation, Abi::AsyncStatus status, const std::wstring& step)
{
    switch (status)
    {
    case Abi::AsyncStatus::Completed:
        return {};
    case Abi::AsyncStatus::Canceled:
        return Failure(HRESULT_FROM_WIN32(ERROR_CANCELLED), Core::Text(TextId::Canceled));
    case Abi::AsyncStatus::Error: {
        HRESULT code = E_FAIL;
        if (auto info = QueryAs<Abi::IAsyncInfo>(operation);
            !info || FAILED(info->get_ErrorCode(&code)) || SUCCEEDED(code))
            code = E_FAIL; // an error without its code is still an error
        return Failed(step, code);
    }
    default:
        return Failed(step, IllegalMethodCall);
    }
}

Outcome<> AwaitCompletion(IInspectable* operation, const GUID& handlerIid,
                          const std::function<HRESULT(Abi::IAsyncCompletedHandler*)>& setCompleted,
                          std::stop_token stop, const std::wstring& step)
{
    ComPtr<CompletionHandler> handler = CompletionHandler::Make(handlerIid);
    if (!handler)
        return Failed(step, E_OUTOFMEMORY);
    if (const HRESULT hr = setCompleted(handler.Get()); FAILED(hr))
        return Failed(step, hr);
    bool canceled = false;
    DWORD waitedSinceCancel = 0;
    while (::WaitForSingleObject(handler->Ended(), WaitSliceMs) == WAIT_TIMEOUT)
    {
        if (!stop.stop_requested())
            continue;
        if (!canceled)
        {
            canceled = true;
            if (auto info = QueryAs<Abi::IAsyncInfo>(operation))
                info->Cancel();
        }
        else if ((waitedSinceCancel += WaitSliceMs) >= CancelGraceMs)
            return Failure(HRESULT_FROM_WIN32(ERROR_CANCELLED), Core::Text(TextId::Canceled));
    }
    return EndingOf(operation, handler->Status(), step);
}

} // namespace Pd::Platform::WinRt
