// The real device behind a link's ATT server: every read, write and configuration runs on the
// device's Windows objects kept in the mirror, waits for Windows' answer until the link stops
// (which cancels it), and maps Windows' result to the ATT error code. Subscriptions register
// ValueChanged handlers that pass the device's values on through the sink.
//
// Read, Write, WriteClientConfiguration and Subscribe run on the link's worker only. The sink
// runs on Windows threads; RevokeAll returns once none runs any more.
#pragma once

#include "bt/att/AttDevice.h"
#include "bt/gatt/Mirror.h"

#include <functional>
#include <map>
#include <stop_token>
#include <utility>

namespace Pd::Bt
{

// The ATT error code of a failed write: the device's own error byte for a ProtocolError that
// carries one, Write Not Permitted when Windows denied access, else Unlikely Error.
std::uint8_t AttErrorFromStatus(Platform::GattStatus status, std::optional<std::uint8_t> protocolError);

// A changed value of the characteristic value at this handle, to notify or indicate.
using ValueChangedSink = std::function<void(std::uint16_t valueHandle, const Bytes& value, bool indicate)>;

class GattOperations final : public AttDevice
{
public:
    // The mirror must outlive the operations.
    GattOperations(const GattMirror& mirror, std::stop_token stop, ValueChangedSink sink);
    ~GattOperations() override;

    DeviceAnswer Read(const AttributeEntry& entry) override;
    DeviceAnswer Write(const AttributeEntry& entry, ByteView value, bool withResponse) override;
    DeviceAnswer WriteClientConfiguration(const AttributeEntry& cccd, ClientConfiguration mode) override;
    DeviceAnswer Subscribe(const AttributeEntry& cccd, bool enable, bool indicate) override;

    // Removes every ValueChanged handler.
    void RevokeAll();

private:
    struct Subscription
    {
        std::int64_t token = 0;
        bool indicate = false;
    };
    using CharacteristicKey = std::pair<std::uint32_t, std::uint32_t>; // service, characteristic

    const GattMirror& mirror_;
    std::stop_token stop_;
    ValueChangedSink sink_;
    std::map<CharacteristicKey, Subscription> subscriptions_;
};

} // namespace Pd::Bt
