// What the real LE device's objects share for their GATT values, events, session and pairing
// (platform/BluetoothGattValues.cpp, BluetoothGattSession.cpp).
#pragma once

#include "platform/Bluetooth.h"
#include "platform/winrt/AbiBluetoothLe.h"
#include "platform/winrt/Events.h"

#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace Pd::Platform::Real::Gatt
{

// Starts an operation into its out parameter.
template <typename Operation> using Start = std::function<HRESULT(Operation**)>;

// Waits for a read (ReadValue...Async) and reads its status, protocol error and value.
Outcome<GattReadResult> Read(const std::wstring& step, const Start<WinRt::Abi::ReadOperation>& start,
                             std::stop_token stop);

// Waits for a Write...WithResultAsync and reads its status and protocol error.
Outcome<GattWriteResult> Write(const std::wstring& step, const Start<WinRt::Abi::WriteOperation>& start,
                               std::stop_token stop);

// Waits for ReadClientCharacteristicConfigurationDescriptorAsync.
Outcome<GattConfigurationResult> ReadConfiguration(const std::wstring& step,
                                                   const Start<WinRt::Abi::ConfigurationOperation>& start,
                                                   std::stop_token stop);

// The event registrations of one object, each owned here until removed by its token (or until
// the object goes). Removal waits for a callback running on another thread.
class Subscriptions
{
public:
    Outcome<std::int64_t> Keep(Outcome<WinRt::EventSubscription> subscription);
    void Remove(std::int64_t token);

private:
    std::mutex mutex_;
    std::map<std::int64_t, WinRt::EventSubscription> owned_;
};

// GattSession.FromDeviceIdAsync with this BluetoothDeviceId.
Outcome<std::shared_ptr<GattSession>> OpenSession(IInspectable* deviceId, std::stop_token stop);

// The device's DeviceInformation.Pairing.
Outcome<std::shared_ptr<DeviceInformationPairing>> PairingOf(WinRt::Abi::IBluetoothLEDevice2* device);

} // namespace Pd::Platform::Real::Gatt
