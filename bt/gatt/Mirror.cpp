#include "bt/gatt/Mirror.h"

#include "core/Log.h"

#include <fmt/format.h>

namespace Pd::Bt
{
namespace
{

using Platform::GattStatus;

// The characteristic's listing and objects; a failed descriptor listing leaves it without any.
Platform::Outcome<CharacteristicListing> ReadCharacteristic(
    const std::shared_ptr<Platform::GattCharacteristic>& characteristic,
    GattMirror::CharacteristicObjects& objects, std::stop_token stop)
{
    CharacteristicListing listing{characteristic->AttributeHandle(),
                                  GuidToUuid(characteristic->Uuid()),
                                  characteristic->Properties(),
                                  {}};
    objects.characteristic = characteristic;
    auto descriptors = characteristic->GetDescriptors(stop);
    if (!descriptors)
        return std::unexpected(descriptors.error());
    if (descriptors->status != GattStatus::Success)
        return listing;
    for (const auto& descriptor : descriptors->items)
    {
        listing.descriptors.push_back({descriptor->AttributeHandle(), GuidToUuid(descriptor->Uuid())});
        objects.descriptors.push_back(descriptor);
    }
    return listing;
}

// The service's listing and objects; unmirrored services are not asked for their
// characteristics, and a failed characteristic listing leaves the service without any.
Platform::Outcome<ServiceListing> ReadService(const std::shared_ptr<Platform::GattDeviceService>& service,
                                              GattMirror::ServiceObjects& objects, std::stop_token stop)
{
    ServiceListing listing{service->AttributeHandle(), GuidToUuid(service->Uuid()), {}};
    objects.service = service;
    if (!IsMirroredService(listing.uuid))
        return listing;
    auto characteristics = service->GetCharacteristics(stop);
    if (!characteristics)
        return std::unexpected(characteristics.error());
    if (characteristics->status != GattStatus::Success)
        return listing;
    for (const auto& characteristic : characteristics->items)
    {
        auto read = ReadCharacteristic(characteristic, objects.characteristics.emplace_back(), stop);
        if (!read)
            return std::unexpected(read.error());
        listing.characteristics.push_back(std::move(*read));
    }
    return listing;
}

} // namespace

Uuid GuidToUuid(const GUID& guid)
{
    std::array<std::uint8_t, 8> data4;
    std::copy(std::begin(guid.Data4), std::end(guid.Data4), data4.begin());
    return UuidFromGuidFields(guid.Data1, guid.Data2, guid.Data3, data4);
}

const GattMirror::CharacteristicObjects& GattMirror::Objects(std::size_t service,
                                                             std::size_t characteristic) const
{
    const ServiceRecord& record = database_.services.at(service);
    return objects_.at(record.source).characteristics.at(record.characteristics.at(characteristic).source);
}

Platform::GattDeviceService& GattMirror::Service(std::size_t service) const
{
    return *objects_.at(database_.services.at(service).source).service;
}

Platform::GattCharacteristic& GattMirror::Characteristic(std::size_t service,
                                                         std::size_t characteristic) const
{
    return *Objects(service, characteristic).characteristic;
}

std::shared_ptr<Platform::GattDescriptor> GattMirror::Descriptor(std::size_t service,
                                                                 std::size_t characteristic,
                                                                 std::size_t descriptor) const
{
    const DescriptorRecord& record =
        database_.services.at(service).characteristics.at(characteristic).descriptors.at(descriptor);
    if (!record.source)
        return nullptr;
    return Objects(service, characteristic).descriptors.at(*record.source);
}

Platform::Outcome<std::optional<GattMirror>> MirrorGattDatabase(Platform::LeDevice& device,
                                                                std::uint64_t peerAddress,
                                                                std::stop_token stop)
{
    auto services = device.GetGattServices(stop);
    if (!services)
        return std::unexpected(services.error());
    if (services->status != GattStatus::Success)
    {
        Core::Log(fmt::format("gatt {:012X}: services unavailable (status {})", peerAddress,
                              static_cast<std::int32_t>(services->status)));
        return std::optional<GattMirror>();
    }
    std::vector<ServiceListing> listings;
    std::vector<GattMirror::ServiceObjects> objects;
    for (const auto& service : services->items)
    {
        auto read = ReadService(service, objects.emplace_back(), stop);
        if (!read)
            return std::unexpected(read.error());
        listings.push_back(std::move(*read));
    }
    GattMirror mirror(BuildGattDatabase(listings), std::move(objects));
    const GattDatabase& database = mirror.Database();
    Core::Log(fmt::format("gatt {:012X}: {} services, {} characteristics, {} attributes", peerAddress,
                          database.services.size(), database.CharacteristicCount(), database.table.size()));
    return std::optional<GattMirror>(std::move(mirror));
}

} // namespace Pd::Bt
