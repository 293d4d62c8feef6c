// The handlers of one event of a test class, registered by token; each added handler is held
// until it is removed or the table goes.
#pragma once

#include "platform/winrt/AbiFoundation.h"
#include "tests/support/winrt-classes/Scripting.h"

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace Pd::TestClasses
{

class EventHandlers
{
public:
    // `name` is the event's, noted as "Remove<name> <token>" on removal.
    EventHandlers(std::wstring name, const GUID& handlerIid) : name_(std::move(name)), handlerIid_(handlerIid)
    {
    }
    EventHandlers(const EventHandlers&) = delete;
    EventHandlers& operator=(const EventHandlers&) = delete;
    ~EventHandlers()
    {
        for (auto& [token, handler] : handlers_)
            handler->Release();
    }

    // `added` runs with the table locked, after the handler got its token.
    HRESULT Add(Abi::ITypedEventHandler* handler, Abi::EventToken* token,
                const std::function<void(Abi::EventToken)>& added = {})
    {
        Abi::ITypedEventHandler* typed = nullptr;
        if (!handler || FAILED(handler->QueryInterface(handlerIid_, reinterpret_cast<void**>(&typed))))
            return E_INVALIDARG;
        std::lock_guard lock(mutex_);
        *token = ++lastToken_;
        handlers_[*token] = typed;
        if (added)
            added(*token);
        return S_OK;
    }

    HRESULT Remove(Abi::EventToken token)
    {
        Note(L"Remove" + name_ + L" " + std::to_wstring(token));
        Abi::ITypedEventHandler* handler = nullptr;
        {
            std::lock_guard lock(mutex_);
            if (auto found = handlers_.find(token); found != handlers_.end())
                handler = found->second, handlers_.erase(found);
        }
        if (handler)
            handler->Release();
        return S_OK;
    }

    // A reference to each handler registered now; `none` runs with the table locked when there is none.
    std::vector<Abi::ITypedEventHandler*> Current(const std::function<void()>& none = {})
    {
        std::vector<Abi::ITypedEventHandler*> handlers;
        std::lock_guard lock(mutex_);
        for (auto& [token, handler] : handlers_)
            handler->AddRef(), handlers.push_back(handler);
        if (handlers.empty() && none)
            none();
        return handlers;
    }

    // Invokes each of `handlers` (from Current) and releases it.
    static void Invoke(const std::vector<Abi::ITypedEventHandler*>& handlers, IInspectable* sender,
                       IInspectable* args)
    {
        for (Abi::ITypedEventHandler* handler : handlers)
        {
            handler->Invoke(sender, args);
            handler->Release();
        }
    }

private:
    std::wstring name_;
    GUID handlerIid_;
    std::mutex mutex_;
    std::map<Abi::EventToken, Abi::ITypedEventHandler*> handlers_;
    Abi::EventToken lastToken_ = 0;
};

} // namespace Pd::TestClasses
