#include "platform/sim/SimLeDevice.h"

namespace Pd::Platform::Sim
{
namespace
{

class SimDescriptor final : public GattDescriptor
{
public:
    using Interface = GattDescriptor;
    explicit SimDescriptor(ScenarioGattDescriptor data) : data_(data) {}
    std::uint16_t AttributeHandle() const override { return data_.handle; }
    GUID Uuid() const override { return data_.uuid; }

private:
    ScenarioGattDescriptor data_;
};

// A listing of the scenario's items with its status; nothing listed unless that is Success.
template <typename Object, typename Data>
GattListing<typename Object::Interface> List(std::int32_t status, const std::vector<Data>& items)
{
    GattListing<typename Object::Interface> listing;
    listing.status = static_cast<GattStatus>(status);
    if (listing.status == GattStatus::Success)
        for (const Data& item : items)
            listing.items.push_back(std::make_shared<Object>(item));
    return listing;
}

class SimCharacteristic final : public GattCharacteristic
{
public:
    using Interface = GattCharacteristic;
    explicit SimCharacteristic(ScenarioGattCharacteristic data) : data_(std::move(data)) {}
    std::uint16_t AttributeHandle() const override { return data_.handle; }
    GUID Uuid() const override { return data_.uuid; }
    std::uint32_t Properties() const override { return data_.properties; }
    Outcome<GattListing<GattDescriptor>> GetDescriptors() override
    {
        return List<SimDescriptor>(data_.status, data_.descriptors);
    }

private:
    ScenarioGattCharacteristic data_;
};

class SimService final : public GattDeviceService
{
public:
    using Interface = GattDeviceService;
    explicit SimService(ScenarioGattService data) : data_(std::move(data)) {}
    std::uint16_t AttributeHandle() const override { return data_.handle; }
    GUID Uuid() const override { return data_.uuid; }
    Outcome<GattListing<GattCharacteristic>> GetCharacteristics() override
    {
        return List<SimCharacteristic>(data_.status, data_.characteristics);
    }

private:
    ScenarioGattService data_;
};

class SimLeDevice final : public LeDevice
{
public:
    explicit SimLeDevice(ScenarioLeDevice data) : data_(std::move(data)) {}
    Outcome<GattListing<GattDeviceService>> GetGattServices() override
    {
        if (data_.servicesError)
            return Failure(*data_.servicesError, L"The GATT services could not be read");
        return List<SimService>(data_.servicesStatus, data_.services);
    }

private:
    ScenarioLeDevice data_;
};

} // namespace

Outcome<std::unique_ptr<LeDevice>> OpenLeDevice(const std::vector<ScenarioLeDevice>& devices,
                                                std::uint64_t address, bool randomAddress)
{
    for (const ScenarioLeDevice& device : devices)
        if (device.address == address && device.random == randomAddress)
            return std::make_unique<SimLeDevice>(device);
    return std::unique_ptr<LeDevice>();
}

} // namespace Pd::Platform::Sim
