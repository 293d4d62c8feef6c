// Waiting for Windows Runtime asynchronous operations (IAsyncOperation<T>,
// IAsyncOperationWithProgress<T, P>, IAsyncAction) through their Completed handler.
#pragma once

#include "core/Handles.h"
#include "platform/Platform.h"
#include "platform/winrt/AbiFoundation.h"
#include "platform/winrt/Delegate.h"
#include "platform/winrt/Runtime.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <stop_token>
#include <string>
#include <type_traits>

namespace Pd::Platform::WinRt
{

// Our completion handler: answers the handler's (parameterized) interface id, records the final
// status, signals an event and runs an optional callback. Callable from any thread.
class CompletionHandler final : public Delegate<Abi::IAsyncCompletedHandler>
{
public:
    static ComPtr<CompletionHandler> Make(const GUID& iid, std::function<void()> onEnd = {});

    HRESULT STDMETHODCALLTYPE Invoke(IInspectable* asyncInfo, Abi::AsyncStatus status) override;

    HANDLE Ended() const noexcept { return ended_.Get(); }
    Abi::AsyncStatus Status() const noexcept { return status_.load(); }

private:
    CompletionHandler(const GUID& iid, std::function<void()> onEnd, UniqueHandle ended);

    std::function<void()> onEnd_;
    UniqueHandle ended_;
    std::atomic<Abi::AsyncStatus> status_{Abi::AsyncStatus::Started};
};

// The ending of a started operation, read through IAsyncInfo: success when it completed, else
// its error code (or "canceled") as a failure of `step`.
Outcome<> EndingOf(IInspectable* operation, Abi::AsyncStatus status, const std::wstring& step);

// Sets `handler` as the operation's Completed handler and waits until it has run. A stop
// request cancels the operation through IAsyncInfo::Cancel and waits a little for it to end.
Outcome<> AwaitCompletion(IInspectable* operation, const GUID& handlerIid,
                          const std::function<HRESULT(Abi::IAsyncCompletedHandler*)>& setCompleted,
                          std::stop_token stop, const std::wstring& step);

// Waits for `operation` (any of the three kinds, through its own put_Completed) and reads its
// result with GetResults into `result` (the action kind has none).
template <typename Operation, typename Result>
Outcome<> Await(Operation* operation, const GUID& handlerIid, Result* result, std::stop_token stop,
                const std::wstring& step)
{
    auto ended = AwaitCompletion(
        operation, handlerIid,
        [&](Abi::IAsyncCompletedHandler* handler) { return operation->put_Completed(handler); }, stop, step);
    if (!ended)
        return ended;
    HRESULT hr = S_OK;
    if constexpr (std::is_same_v<Result, void>)
        hr = operation->GetResults();
    else
        hr = operation->GetResults(result);
    if (FAILED(hr))
        return Failed(step, hr);
    return {};
}

} // namespace Pd::Platform::WinRt
