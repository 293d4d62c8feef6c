#include "bt/device/GattOperations.h"

#include "bt/att/AttPdu.h"
#include "bt/WindowsFailure.h"

namespace Pd::Bt
{
namespace
{

using Platform::GattStatus;

using Att::ReadNotPermitted;
using Att::UnlikelyError;
using Att::WriteNotPermitted;

// A call that could not run: its HRESULT and text, as the worker logs it.
DeviceAnswer Failed(const Platform::Error& error)
{
    return {0, {}, FailureText(error)};
}

std::uint8_t ReadError(GattStatus status, std::optional<std::uint8_t> protocolError)
{
    if (status == GattStatus::AccessDenied)
        return ReadNotPermitted;
    if (status == GattStatus::ProtocolError && protocolError)
        return *protocolError;
    return UnlikelyError;
}

template <typename Result> DeviceAnswer ReadAnswer(const Platform::Outcome<Result>& read, Bytes value)
{
    if (!read)
        return Failed(read.error());
    if (read->status != GattStatus::Success)
        return {ReadError(read->status, read->protocolError), {}, {}};
    return {0, std::move(value), {}};
}

DeviceAnswer WriteAnswer(const Platform::Outcome<Platform::GattWriteResult>& written)
{
    if (!written)
        return Failed(written.error());
    if (written->status != GattStatus::Success)
        return {AttErrorFromStatus(written->status, written->protocolError), {}, {}};
    return {};
}

bool IsClientConfiguration(const AttributeEntry& entry)
{
    return entry.kind == AttributeKind::Descriptor && entry.type == Uuid16(ClientConfigurationUuid);
}

} // namespace

std::uint8_t AttErrorFromStatus(GattStatus status, std::optional<std::uint8_t> protocolError)
{
    if (status == GattStatus::AccessDenied)
        return Att::WriteNotPermitted;
    if (status == GattStatus::ProtocolError && protocolError)
        return *protocolError;
    return UnlikelyError;
}

GattOperations::GattOperations(const GattMirror& mirror, std::stop_token stop, ValueChangedSink sink)
    : mirror_(mirror), stop_(std::move(stop)), sink_(std::move(sink))
{
}

GattOperations::~GattOperations()
{
    RevokeAll();
}

DeviceAnswer GattOperations::Read(const AttributeEntry& entry)
{
    Platform::GattCharacteristic& characteristic =
        mirror_.Characteristic(entry.service, entry.characteristic);
    if (entry.kind == AttributeKind::CharacteristicValue)
    {
        auto read = characteristic.ReadValue(stop_);
        return ReadAnswer(read, read ? std::move(read->value) : Bytes());
    }
    if (IsClientConfiguration(entry))
    {
        auto read = characteristic.ReadClientCharacteristicConfigurationDescriptor(stop_);
        Bytes value;
        if (read)
            AppendLe16(value, static_cast<std::uint16_t>(read->configuration));
        return ReadAnswer(read, std::move(value));
    }
    auto descriptor = mirror_.Descriptor(entry.service, entry.characteristic, entry.descriptor);
    if (!descriptor)
        return {ReadNotPermitted, {}, {}};
    auto read = descriptor->ReadValue(stop_);
    return ReadAnswer(read, read ? std::move(read->value) : Bytes());
}

DeviceAnswer GattOperations::Write(const AttributeEntry& entry, ByteView value, bool withResponse)
{
    Bytes bytes(value.begin(), value.end());
    if (entry.kind == AttributeKind::CharacteristicValue)
        return WriteAnswer(mirror_.Characteristic(entry.service, entry.characteristic)
                               .WriteValueWithResult(bytes,
                                                     withResponse
                                                         ? Platform::GattWriteOption::WriteWithResponse
                                                         : Platform::GattWriteOption::WriteWithoutResponse,
                                                     stop_));
    auto descriptor = mirror_.Descriptor(entry.service, entry.characteristic, entry.descriptor);
    if (entry.kind != AttributeKind::Descriptor || !descriptor)
        return {WriteNotPermitted, {}, {}};
    return WriteAnswer(descriptor->WriteValueWithResult(bytes, stop_));
}

DeviceAnswer GattOperations::WriteClientConfiguration(const AttributeEntry& cccd, ClientConfiguration mode)
{
    return WriteAnswer(mirror_.Characteristic(cccd.service, cccd.characteristic)
                           .WriteClientCharacteristicConfigurationDescriptorWithResult(
                               static_cast<Platform::GattClientConfiguration>(mode), stop_));
}

DeviceAnswer GattOperations::Subscribe(const AttributeEntry& cccd, bool enable, bool indicate)
{
    Platform::GattCharacteristic& characteristic = mirror_.Characteristic(cccd.service, cccd.characteristic);
    CharacteristicKey key{cccd.service, cccd.characteristic};
    if (auto current = subscriptions_.find(key); current != subscriptions_.end())
    {
        if (enable && current->second.indicate == indicate)
            return {};
        characteristic.RemoveValueChanged(current->second.token);
        subscriptions_.erase(current);
    }
    if (!enable)
        return {};
    std::uint16_t valueHandle =
        mirror_.Database().services.at(cccd.service).characteristics.at(cccd.characteristic).valueHandle;
    auto token = characteristic.AddValueChanged(
        [sink = sink_, valueHandle, indicate](const Bytes& value) { sink(valueHandle, value, indicate); });
    if (!token)
        return Failed(token.error());
    subscriptions_[key] = {*token, indicate};
    return {};
}

void GattOperations::RevokeAll()
{
    for (const auto& [key, subscription] : subscriptions_)
        mirror_.Characteristic(key.first, key.second).RemoveValueChanged(subscription.token);
    subscriptions_.clear();
}

} // namespace Pd::Bt
