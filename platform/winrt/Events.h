// Windows Runtime event handlers, registered and removed through their tokens by one owner.
#pragma once

#include "core/CallbackGate.h"
#include "core/Handles.h"
#include "platform/Platform.h"
#include "platform/winrt/AbiFoundation.h"
#include "platform/winrt/Delegate.h"

#include <functional>
#include <memory>

namespace Pd::Platform::WinRt
{

using EventCallback = std::function<void(IInspectable* sender, IInspectable* args)>;

// Our TypedEventHandler: answers its (parameterized) interface id and runs the callback until
// it is detached. Detach waits for callbacks running on other threads, so that once it returns
// the callback's captures may go.
class EventHandler final : public Delegate<Abi::ITypedEventHandler>
{
public:
    static ComPtr<EventHandler> Make(const GUID& iid, EventCallback callback);

    HRESULT STDMETHODCALLTYPE Invoke(IInspectable* sender, IInspectable* args) override;

    void Detach();

private:
    EventHandler(const GUID& iid, EventCallback callback) : Delegate(iid), callback_(std::move(callback)) {}

    EventCallback callback_;
    Core::CallbackGate gate_;
};

// One registered handler. Destroying it removes the registration (by its token) and detaches
// the handler, so that no callback runs afterwards.
class EventSubscription
{
public:
    using Remove = std::function<HRESULT(Abi::EventToken)>;

    EventSubscription() = default;
    EventSubscription(ComPtr<EventHandler> handler, Abi::EventToken token, Remove remove);
    EventSubscription(EventSubscription&&) noexcept = default;
    EventSubscription& operator=(EventSubscription&& other) noexcept;
    ~EventSubscription() { Reset(); }

    void Reset();
    explicit operator bool() const noexcept { return static_cast<bool>(handler_); }
    Abi::EventToken Token() const noexcept { return token_; }

private:
    ComPtr<EventHandler> handler_;
    Abi::EventToken token_ = 0;
    Remove remove_;
};

// Registers `callback` through `add` (the source's add_X) and returns the owner that calls
// `remove` (its remove_X) with the token.
Outcome<EventSubscription> Subscribe(
    const GUID& handlerIid, EventCallback callback,
    const std::function<HRESULT(Abi::ITypedEventHandler*, Abi::EventToken*)>& add,
    EventSubscription::Remove remove, const std::wstring& step);

} // namespace Pd::Platform::WinRt
