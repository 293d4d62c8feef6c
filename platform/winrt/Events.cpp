#include "platform/winrt/Events.h"

#include "platform/winrt/Runtime.h"

#include <new>

namespace Pd::Platform::WinRt
{

ComPtr<EventHandler> EventHandler::Make(const GUID& iid, EventCallback callback)
{
    return ComPtr<EventHandler>::Attach(new (std::nothrow) EventHandler(iid, std::move(callback)));
}

HRESULT STDMETHODCALLTYPE EventHandler::Invoke(IInspectable* sender, IInspectable* args)
{
    gate_.Run([&] { callback_(sender, args); });
    return S_OK;
}

void EventHandler::Detach()
{
    gate_.Close();
}

EventSubscription::EventSubscription(ComPtr<EventHandler> handler, Abi::EventToken token, Remove remove)
    : handler_(std::move(handler)), token_(token), remove_(std::move(remove))
{
}

EventSubscription& EventSubscription::operator=(EventSubscription&& other) noexcept
{
    if (this != &other)
    {
        Reset();
        handler_ = std::move(other.handler_);
        token_ = other.token_;
        remove_ = std::move(other.remove_);
    }
    return *this;
}

void EventSubscription::Reset()
{
    if (!handler_)
        return;
    if (remove_)
        remove_(token_);
    handler_->Detach();
    handler_.Reset();
    remove_ = nullptr;
}

Outcome<EventSubscription> Subscribe(
    const GUID& handlerIid, EventCallback callback,
    const std::function<HRESULT(Abi::ITypedEventHandler*, Abi::EventToken*)>& add,
    EventSubscription::Remove remove, const std::wstring& step)
{
    ComPtr<EventHandler> handler = EventHandler::Make(handlerIid, std::move(callback));
    if (!handler)
        return Failed(step, E_OUTOFMEMORY);
    Abi::EventToken token = 0;
    if (const HRESULT hr = add(handler.Get(), &token); FAILED(hr))
    {
        handler->Detach();
        return Failed(step, hr);
    }
    return EventSubscription(std::move(handler), token, std::move(remove));
}

} // namespace Pd::Platform::WinRt
