// The GATT values, events, session and pairing of the test LE device (BluetoothLeValueClasses.cpp).
#pragma once

#include "platform/winrt/AbiBluetoothLe.h"
#include "tests/support/winrt-classes/EventHandlers.h"
#include "tests/support/winrt-classes/TestObjects.h"

#include <activation.h>

#include <functional>
#include <memory>
#include <stop_token>
#include <string>
#include <thread>

namespace Pd::TestClasses
{

// Handlers registered by token, fired again and again from a thread of its own while any is
// registered; like Windows, a handler may still run once after its removal returned.
class EventSource
{
public:
    using MakeArgs = std::function<IInspectable*()>; // a new reference, or null
    EventSource(std::wstring name, const GUID& handlerIid, IInspectable* sender, MakeArgs makeArgs)
        : handlers_(std::move(name), handlerIid), sender_(sender), makeArgs_(std::move(makeArgs))
    {
    }
    ~EventSource() { thread_ = std::jthread(); }
    HRESULT Add(Abi::ITypedEventHandler* handler, Abi::EventToken* token);
    HRESULT Remove(Abi::EventToken token) { return handlers_.Remove(token); }

private:
    void Fire(std::stop_token stop);

    EventHandlers handlers_;
    IInspectable* sender_;
    MakeArgs makeArgs_;
    std::jthread thread_;
};

// The value operations of a characteristic or descriptor with this handle.
HRESULT StartRead(std::uint16_t handle, Abi::ReadOperation** operation);
HRESULT StartWrite(const std::wstring& call, Abi::WriteOperation** operation);
HRESULT StartConfigurationRead(std::uint16_t handle, Abi::ConfigurationOperation** operation);
std::wstring HexOf(Abi::IBuffer* buffer);

// The device's other interfaces, answered by the device object through these.
IInspectable* MakeDeviceInformation();
IInspectable* MakeDeviceId(std::uint64_t address);
IInspectable* MakeValueChangedArgs();
IActivationFactory* MakeGattValueFactory(const std::wstring& className);

} // namespace Pd::TestClasses
