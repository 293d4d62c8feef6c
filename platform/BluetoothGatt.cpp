// The GATT operations, session, connection status and pairing of an opened LE device where a
// build has no binding for them: each answers "unavailable", as a device opened before they
// existed would.
#include "platform/RealServices.h"

namespace Pd::Platform
{
namespace
{

std::unexpected<Error> Unavailable()
{
    return Failure(E_NOTIMPL, L"This Bluetooth LE operation is not available");
}

} // namespace

Error CancelledOperation()
{
    return Error{HRESULT_FROM_WIN32(ERROR_CANCELLED), L"The operation was canceled"};
}

Outcome<GattReadResult> GattDescriptor::ReadValue(std::stop_token)
{
    return Unavailable();
}

Outcome<GattWriteResult> GattDescriptor::WriteValueWithResult(const std::vector<std::uint8_t>&,
                                                              std::stop_token)
{
    return Unavailable();
}

Outcome<GattReadResult> GattCharacteristic::ReadValue(std::stop_token)
{
    return Unavailable();
}

Outcome<GattWriteResult> GattCharacteristic::WriteValueWithResult(const std::vector<std::uint8_t>&,
                                                                  GattWriteOption, std::stop_token)
{
    return Unavailable();
}

Outcome<GattConfigurationResult> GattCharacteristic::ReadClientCharacteristicConfigurationDescriptor(
    std::stop_token)
{
    return Unavailable();
}

Outcome<GattWriteResult> GattCharacteristic::WriteClientCharacteristicConfigurationDescriptorWithResult(
    GattClientConfiguration, std::stop_token)
{
    return Unavailable();
}

Outcome<std::int64_t> GattCharacteristic::AddValueChanged(GattValueChangedHandler)
{
    return Unavailable();
}

void GattCharacteristic::RemoveValueChanged(std::int64_t) {}

Outcome<BluetoothConnectionStatus> LeDevice::ConnectionStatus()
{
    return Unavailable();
}

Outcome<std::int64_t> LeDevice::AddConnectionStatusChanged(std::function<void(BluetoothConnectionStatus)>)
{
    return Unavailable();
}

void LeDevice::RemoveConnectionStatusChanged(std::int64_t) {}

Outcome<std::shared_ptr<GattSession>> LeDevice::OpenGattSession(std::stop_token)
{
    return Unavailable();
}

Outcome<std::shared_ptr<DeviceInformationPairing>> LeDevice::Pairing()
{
    return Unavailable();
}

} // namespace Pd::Platform
