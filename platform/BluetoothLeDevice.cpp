// The real LE device: opened by address through the Windows Runtime, its GATT database listed
// service by service, always from the device itself (cache mode Uncached); values, sessions and
// pairing go through platform/BluetoothGattValues.cpp and BluetoothGattSession.cpp.
#include "platform/BluetoothGattWinRt.h"
#include "platform/RealServices.h"
#include "platform/winrt/AbiBluetoothLe.h"
#include "platform/winrt/Async.h"
#include "platform/winrt/Buffer.h"
#include "platform/winrt/Collections.h"
#include "platform/winrt/Runtime.h"

#include <optional>

namespace Pd::Platform::Real
{
namespace
{

using namespace WinRt;

// Starts a listing with `start`, waits for it (until stop is requested, which cancels it) and
// reads its status; on Success, each listed
// object becomes a Wrapper. An object that cannot be described fails the whole listing, so that
// no database is mirrored with a hole in it.
template <typename Wrapper, typename Result, typename Start>
Outcome<GattListing<typename Wrapper::Interface>> List(const std::wstring& step, const GUID& handlerIid,
                                                       std::stop_token stop, Start&& start)
{
    using Item = typename Wrapper::Object;
    ComPtr<Abi::IAsyncOperation<Result*>> operation;
    if (HRESULT hr = start(operation.Put()); FAILED(hr))
        return Failed(step, hr);
    if (!operation)
        return Failed(step, E_POINTER);
    ComPtr<Result> result;
    if (auto ended = Await(operation.Get(), handlerIid, result.Put(), stop, step); !ended)
        return std::unexpected(ended.error());
    if (!result)
        return Failed(step, E_POINTER);
    std::int32_t status = 0;
    if (HRESULT hr = result->get_Status(&status); FAILED(hr))
        return Failed(step, hr);
    GattListing<typename Wrapper::Interface> listing;
    listing.status = static_cast<GattStatus>(status);
    if (listing.status != GattStatus::Success)
        return listing;
    ComPtr<Abi::IVectorView<Item*>> items;
    if (HRESULT hr = result->get_Items(items.Put()); FAILED(hr) || !items)
        return Failed(step, FAILED(hr) ? hr : E_POINTER);
    std::optional<Error> broken;
    auto walked = WalkVector<Item*>(
        items.Get(),
        [&](ComPtr<Item> item) {
            if (broken)
                return;
            if (auto wrapped = Wrapper::Make(std::move(item), step))
                listing.items.push_back(std::move(*wrapped));
            else
                broken = wrapped.error();
        },
        step);
    if (broken)
        return std::unexpected(std::move(*broken));
    if (!walked)
        return std::unexpected(walked.error());
    return listing;
}

// Reads an object's handle and UUID (and whatever else `more` reads) once, as plain values.
template <typename Object, typename More>
Outcome<std::pair<std::uint16_t, GUID>> Identity(Object* object, const std::wstring& step, More&& more)
{
    if (!object)
        return Failed(step, E_POINTER);
    std::pair<std::uint16_t, GUID> identity{};
    for (HRESULT hr :
         {object->get_AttributeHandle(&identity.first), object->get_Uuid(&identity.second), more()})
        if (FAILED(hr))
            return Failed(step, hr);
    return identity;
}

class WinRtDescriptor final : public GattDescriptor
{
public:
    using Interface = GattDescriptor;
    using Object = Abi::IGattDescriptor;

    static Outcome<std::shared_ptr<GattDescriptor>> Make(ComPtr<Object> descriptor, const std::wstring& step)
    {
        auto identity = Identity(descriptor.Get(), step, [] { return S_OK; });
        if (!identity)
            return std::unexpected(identity.error());
        return std::make_shared<WinRtDescriptor>(std::move(descriptor), *identity);
    }

    WinRtDescriptor(ComPtr<Object> descriptor, std::pair<std::uint16_t, GUID> identity)
        : descriptor_(std::move(descriptor)), handle_(identity.first), uuid_(identity.second)
    {
    }
    std::uint16_t AttributeHandle() const override { return handle_; }
    GUID Uuid() const override { return uuid_; }

    Outcome<GattReadResult> ReadValue(std::stop_token stop) override
    {
        return Gatt::Read(
            L"GattDescriptor.ReadValueAsync",
            [&](Abi::ReadOperation** operation) {
                return descriptor_->ReadValueWithCacheModeAsync(Abi::CacheModeUncached, operation);
            },
            stop);
    }

    Outcome<GattWriteResult> WriteValueWithResult(const std::vector<std::uint8_t>& value,
                                                  std::stop_token stop) override
    {
        const std::wstring step = L"GattDescriptor.WriteValueWithResultAsync";
        auto descriptor2 = QueryAs<Abi::IGattDescriptor2>(descriptor_.Get());
        if (!descriptor2)
            return Failed(step, E_NOINTERFACE);
        auto buffer = MakeBuffer(value);
        if (!buffer)
            return std::unexpected(buffer.error());
        return Gatt::Write(
            step,
            [&](Abi::WriteOperation** operation) {
                return descriptor2->WriteValueWithResultAsync(buffer->Get(), operation);
            },
            stop);
    }

private:
    ComPtr<Object> descriptor_; // held open for the value reads and writes through it
    std::uint16_t handle_;
    GUID uuid_;
};

class WinRtCharacteristic final : public GattCharacteristic
{
public:
    using Interface = GattCharacteristic;
    using Object = Abi::IGattCharacteristic;

    static Outcome<std::shared_ptr<GattCharacteristic>> Make(ComPtr<Object> characteristic,
                                                             const std::wstring& step)
    {
        std::uint32_t properties = 0;
        auto identity = Identity(characteristic.Get(), step,
                                 [&] { return characteristic->get_CharacteristicProperties(&properties); });
        if (!identity)
            return std::unexpected(identity.error());
        return std::make_shared<WinRtCharacteristic>(std::move(characteristic), *identity, properties);
    }

    WinRtCharacteristic(ComPtr<Object> characteristic, std::pair<std::uint16_t, GUID> identity,
                        std::uint32_t properties)
        : characteristic_(std::move(characteristic)), handle_(identity.first), uuid_(identity.second),
          properties_(properties)
    {
    }
    std::uint16_t AttributeHandle() const override { return handle_; }
    GUID Uuid() const override { return uuid_; }
    std::uint32_t Properties() const override { return properties_; }

    Outcome<GattListing<GattDescriptor>> GetDescriptors(std::stop_token stop) override
    {
        const std::wstring step = L"GattCharacteristic.GetDescriptorsAsync";
        auto characteristic3 = QueryAs<WinRt::Abi::IGattCharacteristic3>(characteristic_.Get());
        if (!characteristic3)
            return Failed(step, E_NOINTERFACE);
        return List<WinRtDescriptor, WinRt::Abi::IGattDescriptorsResult>(
            step, WinRt::Abi::Instances::DescriptorsCompletedHandler.iid, stop,
            [&](WinRt::Abi::DescriptorsOperation** operation) {
                return characteristic3->GetDescriptorsWithCacheModeAsync(WinRt::Abi::CacheModeUncached,
                                                                         operation);
            });
    }

    Outcome<GattReadResult> ReadValue(std::stop_token stop) override
    {
        return Gatt::Read(
            L"GattCharacteristic.ReadValueAsync",
            [&](Abi::ReadOperation** operation) {
                return characteristic_->ReadValueWithCacheModeAsync(Abi::CacheModeUncached, operation);
            },
            stop);
    }

    Outcome<GattWriteResult> WriteValueWithResult(const std::vector<std::uint8_t>& value,
                                                  GattWriteOption option, std::stop_token stop) override
    {
        const std::wstring step = L"GattCharacteristic.WriteValueWithResultAsync";
        auto characteristic3 = QueryAs<Abi::IGattCharacteristic3>(characteristic_.Get());
        if (!characteristic3)
            return Failed(step, E_NOINTERFACE);
        auto buffer = MakeBuffer(value);
        if (!buffer)
            return std::unexpected(buffer.error());
        return Gatt::Write(
            step,
            [&](Abi::WriteOperation** operation) {
                return characteristic3->WriteValueWithResultAndOptionAsync(
                    buffer->Get(), static_cast<std::int32_t>(option), operation);
            },
            stop);
    }

    Outcome<GattConfigurationResult> ReadClientCharacteristicConfigurationDescriptor(
        std::stop_token stop) override
    {
        return Gatt::ReadConfiguration(
            L"GattCharacteristic.ReadClientCharacteristicConfigurationDescriptorAsync",
            [&](Abi::ConfigurationOperation** operation) {
                return characteristic_->ReadClientCharacteristicConfigurationDescriptorAsync(operation);
            },
            stop);
    }

    Outcome<GattWriteResult> WriteClientCharacteristicConfigurationDescriptorWithResult(
        GattClientConfiguration configuration, std::stop_token stop) override
    {
        const std::wstring step = L"GattCharacteristic.WriteClientCharacteristicConfigurationDescriptorAsync";
        auto characteristic3 = QueryAs<Abi::IGattCharacteristic3>(characteristic_.Get());
        if (!characteristic3)
            return Failed(step, E_NOINTERFACE);
        return Gatt::Write(
            step,
            [&](Abi::WriteOperation** operation) {
                return characteristic3->WriteClientCharacteristicConfigurationDescriptorWithResultAsync(
                    static_cast<std::int32_t>(configuration), operation);
            },
            stop);
    }

    Outcome<std::int64_t> AddValueChanged(GattValueChangedHandler handler) override
    {
        return subscriptions_->Keep(Subscribe(
            Abi::Instances::ValueChangedHandler.iid,
            [handler = std::move(handler)](IInspectable*, IInspectable* args) {
                auto changed = QueryAs<Abi::IGattValueChangedEventArgs>(args);
                ComPtr<Abi::IBuffer> value;
                if (!changed || FAILED(changed->get_CharacteristicValue(value.Put())))
                    return;
                std::vector<std::uint8_t> bytes;
                if (value)
                {
                    auto read = BytesOf(value.Get());
                    if (!read)
                        return; // a value that cannot be read is not passed on as empty
                    bytes = std::move(*read);
                }
                handler(bytes);
            },
            [&](Abi::ITypedEventHandler* typed, Abi::EventToken* token) {
                return characteristic_->add_ValueChanged(typed, token);
            },
            [raw = characteristic_.Get()](Abi::EventToken token) { return raw->remove_ValueChanged(token); },
            L"GattCharacteristic.ValueChanged"));
    }

    void RemoveValueChanged(std::int64_t token) override { subscriptions_->Remove(token); }

private:
    ComPtr<Object> characteristic_;
    std::uint16_t handle_;
    GUID uuid_;
    std::uint32_t properties_;
    // Destroyed before the characteristic: each removal calls it.
    std::unique_ptr<Gatt::Subscriptions> subscriptions_ = std::make_unique<Gatt::Subscriptions>();
};

class WinRtService final : public GattDeviceService
{
public:
    using Interface = GattDeviceService;
    using Object = Abi::IGattDeviceService;

    static Outcome<std::shared_ptr<GattDeviceService>> Make(ComPtr<Object> service, const std::wstring& step)
    {
        auto identity = Identity(service.Get(), step, [] { return S_OK; });
        if (!identity)
            return std::unexpected(identity.error());
        return std::make_shared<WinRtService>(std::move(service), *identity);
    }

    WinRtService(ComPtr<Object> service, std::pair<std::uint16_t, GUID> identity)
        : service_(std::move(service)), handle_(identity.first), uuid_(identity.second)
    {
    }
    std::uint16_t AttributeHandle() const override { return handle_; }
    GUID Uuid() const override { return uuid_; }

    Outcome<GattListing<GattCharacteristic>> GetCharacteristics(std::stop_token stop) override
    {
        const std::wstring step = L"GattDeviceService.GetCharacteristicsAsync";
        auto service3 = QueryAs<WinRt::Abi::IGattDeviceService3>(service_.Get());
        if (!service3)
            return Failed(step, E_NOINTERFACE);
        return List<WinRtCharacteristic, WinRt::Abi::IGattCharacteristicsResult>(
            step, WinRt::Abi::Instances::CharacteristicsCompletedHandler.iid, stop,
            [&](WinRt::Abi::CharacteristicsOperation** operation) {
                return service3->GetCharacteristicsWithCacheModeAsync(WinRt::Abi::CacheModeUncached,
                                                                      operation);
            });
    }

private:
    ComPtr<Object> service_; // held open: its characteristics work through it
    std::uint16_t handle_;
    GUID uuid_;
};

class WinRtLeDevice final : public LeDevice
{
public:
    WinRtLeDevice(ComPtr<Abi::IBluetoothLEDevice> device, ComPtr<Abi::IBluetoothLEDevice3> device3)
        : device_(std::move(device)), device3_(std::move(device3))
    {
    }

    Outcome<GattListing<GattDeviceService>> GetGattServices(std::stop_token stop) override
    {
        return List<WinRtService, Abi::IGattDeviceServicesResult>(
            L"BluetoothLEDevice.GetGattServicesAsync", Abi::Instances::ServicesCompletedHandler.iid, stop,
            [&](Abi::ServicesOperation** operation) {
                return device3_->GetGattServicesWithCacheModeAsync(Abi::CacheModeUncached, operation);
            });
    }

    Outcome<BluetoothConnectionStatus> ConnectionStatus() override
    {
        std::int32_t status = 0;
        if (HRESULT hr = device_->get_ConnectionStatus(&status); FAILED(hr))
            return Failed(L"BluetoothLEDevice.ConnectionStatus", hr);
        return static_cast<BluetoothConnectionStatus>(status);
    }

    // The event carries no status: the handler reads the device's at that moment.
    Outcome<std::int64_t> AddConnectionStatusChanged(
        std::function<void(BluetoothConnectionStatus)> handler) override
    {
        return subscriptions_->Keep(Subscribe(
            Abi::Instances::ConnectionStatusChangedHandler.iid,
            [handler = std::move(handler)](IInspectable* sender, IInspectable*) {
                auto device = QueryAs<Abi::IBluetoothLEDevice>(sender);
                std::int32_t status = 0;
                if (device && SUCCEEDED(device->get_ConnectionStatus(&status)))
                    handler(static_cast<BluetoothConnectionStatus>(status));
            },
            [&](Abi::ITypedEventHandler* typed, Abi::EventToken* token) {
                return device_->add_ConnectionStatusChanged(typed, token);
            },
            [raw = device_.Get()](Abi::EventToken token) {
                return raw->remove_ConnectionStatusChanged(token);
            },
            L"BluetoothLEDevice.ConnectionStatusChanged"));
    }

    void RemoveConnectionStatusChanged(std::int64_t token) override { subscriptions_->Remove(token); }

    Outcome<std::shared_ptr<GattSession>> OpenGattSession(std::stop_token stop) override
    {
        const std::wstring step = L"BluetoothLEDevice.BluetoothDeviceId";
        auto device4 = QueryAs<Abi::IBluetoothLEDevice4>(device_.Get());
        if (!device4)
            return Failed(step, E_NOINTERFACE);
        ComPtr<IInspectable> id;
        if (HRESULT hr = device4->get_BluetoothDeviceId(id.Put()); FAILED(hr) || !id)
            return Failed(step, FAILED(hr) ? hr : E_POINTER);
        return Gatt::OpenSession(id.Get(), stop);
    }

    Outcome<std::shared_ptr<DeviceInformationPairing>> Pairing() override
    {
        auto device2 = QueryAs<Abi::IBluetoothLEDevice2>(device_.Get());
        if (!device2)
            return Failed(L"BluetoothLEDevice.DeviceInformation", E_NOINTERFACE);
        return Gatt::PairingOf(device2.Get());
    }

private:
    ComPtr<Abi::IBluetoothLEDevice> device_;
    ComPtr<Abi::IBluetoothLEDevice3> device3_;
    // Destroyed before the device: each removal calls it.
    std::unique_ptr<Gatt::Subscriptions> subscriptions_ = std::make_unique<Gatt::Subscriptions>();
};

} // namespace

Outcome<std::unique_ptr<LeDevice>> OpenLeDevice(std::uint64_t address, bool randomAddress)
{
    return OpenLeDevice(address, randomAddress, std::stop_token());
}

Outcome<std::unique_ptr<LeDevice>> OpenLeDevice(std::uint64_t address, bool randomAddress,
                                                std::stop_token stop)
{
    const std::wstring step = L"BluetoothLEDevice.FromBluetoothAddressAsync";
    auto statics = Factory<Abi::IBluetoothLEDeviceStatics2>(Abi::LeDeviceClass);
    if (!statics)
        return std::unexpected(statics.error());
    ComPtr<Abi::DeviceOperation> operation;
    if (HRESULT hr = (*statics)->FromBluetoothAddressWithBluetoothAddressTypeAsync(
            address, randomAddress ? Abi::AddressRandom : Abi::AddressPublic, operation.Put());
        FAILED(hr) || !operation)
        return Failed(step, FAILED(hr) ? hr : E_POINTER);
    ComPtr<Abi::IBluetoothLEDevice> device;
    if (auto ended =
            Await(operation.Get(), Abi::Instances::DeviceCompletedHandler.iid, device.Put(), stop, step);
        !ended)
        return std::unexpected(ended.error());
    if (!device)
        return std::unique_ptr<LeDevice>(); // Windows does not know the device
    auto device3 = QueryAs<Abi::IBluetoothLEDevice3>(device.Get());
    if (!device3)
        return Failed(step, E_NOINTERFACE);
    return std::make_unique<WinRtLeDevice>(std::move(device), std::move(device3));
}

} // namespace Pd::Platform::Real
