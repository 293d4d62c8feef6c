// The IUnknown side shared by our delegates (completion and event handlers): reference counting
// and QueryInterface answering the delegate's own (parameterized) interface id, IUnknown and
// IAgileObject, which marks it callable from any thread.
#pragma once

#include "platform/winrt/AbiFoundation.h"

#include <atomic>

namespace Pd::Platform::WinRt
{

template <typename Interface> class Delegate : public Interface
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) final
    {
        if (!out)
            return E_POINTER;
        if (iid == iid_ || iid == IID_IUnknown || iid == Abi::IidAgileObject)
        {
            *out = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }

    ULONG STDMETHODCALLTYPE AddRef() final { return ++references_; }

    ULONG STDMETHODCALLTYPE Release() final
    {
        const ULONG left = --references_;
        if (left == 0)
            delete this;
        return left;
    }

protected:
    explicit Delegate(const GUID& iid) : iid_(iid) {}
    virtual ~Delegate() = default;

private:
    std::atomic<ULONG> references_{1};
    GUID iid_;
};

} // namespace Pd::Platform::WinRt
