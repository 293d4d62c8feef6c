#include "bt/gatt/Database.h"

#include <algorithm>
#include <set>

namespace Pd::Bt
{
namespace
{

template <typename T> std::vector<std::size_t> OrderByHandle(const std::vector<T>& items)
{
    std::vector<std::size_t> order(items.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    // Equal handles reported by Windows stay in the order Windows gave them.
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return items[a].handle != items[b].handle ? items[a].handle < items[b].handle : a < b;
    });
    return order;
}

void AppendUuid(Bytes& out, const Uuid& uuid)
{
    if (auto shortUuid = ShortUuid(uuid))
    {
        out.push_back(static_cast<std::uint8_t>(*shortUuid));
        out.push_back(static_cast<std::uint8_t>(*shortUuid >> 8));
    }
    else
        out.insert(out.end(), uuid.begin(), uuid.end());
}

CharacteristicRecord MirrorCharacteristic(const CharacteristicListing& listing, std::size_t source)
{
    CharacteristicRecord record;
    record.declarationHandle = listing.handle;
    record.valueHandle = static_cast<std::uint16_t>(listing.handle + 1);
    record.properties = static_cast<std::uint8_t>(listing.properties & 0xFF);
    record.uuid = listing.uuid;
    record.source = source;
    for (std::size_t at : OrderByHandle(listing.descriptors))
        record.descriptors.push_back({listing.descriptors[at].handle, listing.descriptors[at].uuid, at});
    return record;
}

// Every handle Windows listed for the mirrored services, with the value handles they imply.
using UsedHandles = std::set<std::uint32_t>;

UsedHandles ListedHandles(const std::vector<ServiceListing>& services)
{
    UsedHandles used;
    for (const ServiceListing& service : services)
    {
        if (!IsMirroredService(service.uuid))
            continue;
        used.insert(service.handle);
        for (const CharacteristicListing& characteristic : service.characteristics)
        {
            used.insert({characteristic.handle, characteristic.handle + 1u});
            for (const DescriptorListing& descriptor : characteristic.descriptors)
                used.insert(descriptor.handle);
        }
    }
    return used;
}

// A notifying or indicating characteristic without a CCCD gets one right after its value, when
// that handle lies below the limit and no descriptor holds it already. Nor may any other
// attribute hold it: Windows may list a characteristic outside its service's range.
void AddMissingClientConfiguration(CharacteristicRecord& characteristic, std::uint32_t limit,
                                   UsedHandles& used)
{
    if ((characteristic.properties & (NotifyProperty | IndicateProperty)) == 0)
        return;
    const Uuid cccd = Uuid16(ClientConfigurationUuid);
    std::uint32_t candidate = characteristic.valueHandle + 1u;
    auto& descriptors = characteristic.descriptors;
    if (candidate >= limit || used.contains(candidate) ||
        std::any_of(descriptors.begin(), descriptors.end(),
                    [&](const DescriptorRecord& d) { return d.uuid == cccd || d.handle == candidate; }))
        return;
    auto at =
        std::lower_bound(descriptors.begin(), descriptors.end(), candidate,
                         [](const DescriptorRecord& d, std::uint32_t handle) { return d.handle < handle; });
    descriptors.insert(at, DescriptorRecord{static_cast<std::uint16_t>(candidate), cccd, std::nullopt});
    used.insert(candidate);
}

// limit: the first handle that belongs to the next service (0xFFFF after the last one).
ServiceRecord MirrorService(const ServiceListing& listing, std::size_t source, std::uint32_t limit,
                            UsedHandles& used)
{
    ServiceRecord service;
    service.startHandle = listing.handle;
    service.endHandle = listing.handle;
    service.uuid = listing.uuid;
    service.source = source;
    for (std::size_t at : OrderByHandle(listing.characteristics))
    {
        // A declaration at the last handle leaves no handle for its value.
        if (listing.characteristics[at].handle == 0xFFFF)
            continue;
        service.characteristics.push_back(MirrorCharacteristic(listing.characteristics[at], at));
    }
    auto& characteristics = service.characteristics;
    for (std::size_t i = 0; i < characteristics.size(); ++i)
    {
        std::uint32_t next =
            i + 1 < characteristics.size() ? characteristics[i + 1].declarationHandle : limit;
        AddMissingClientConfiguration(characteristics[i], next, used);
    }
    for (const CharacteristicRecord& characteristic : characteristics)
    {
        service.endHandle = std::max(service.endHandle, characteristic.valueHandle);
        for (const DescriptorRecord& descriptor : characteristic.descriptors)
            service.endHandle = std::max(service.endHandle, descriptor.handle);
    }
    return service;
}

std::vector<AttributeEntry> BuildTable(const std::vector<ServiceRecord>& services)
{
    std::vector<AttributeEntry> table;
    const Uuid serviceType = Uuid16(PrimaryServiceUuid);
    const Uuid characteristicType = Uuid16(CharacteristicUuid);
    for (std::uint32_t s = 0; s < services.size(); ++s)
    {
        const ServiceRecord& service = services[s];
        table.push_back({service.startHandle, AttributeKind::Service, serviceType, s, 0, 0});
        for (std::uint32_t c = 0; c < service.characteristics.size(); ++c)
        {
            const CharacteristicRecord& characteristic = service.characteristics[c];
            table.push_back({characteristic.declarationHandle, AttributeKind::CharacteristicDeclaration,
                             characteristicType, s, c, 0});
            table.push_back({characteristic.valueHandle, AttributeKind::CharacteristicValue,
                             characteristic.uuid, s, c, 0});
            for (std::uint32_t d = 0; d < characteristic.descriptors.size(); ++d)
                table.push_back({characteristic.descriptors[d].handle, AttributeKind::Descriptor,
                                 characteristic.descriptors[d].uuid, s, c, d});
        }
    }
    std::vector<AttributeEntry> sorted;
    sorted.reserve(table.size());
    for (std::size_t at : OrderByHandle(table))
        sorted.push_back(table[at]);
    return sorted;
}

} // namespace

bool IsMirroredService(const Uuid& uuid)
{
    return ShortUuid(uuid) != HumanInterfaceDeviceUuid;
}

GattDatabase BuildGattDatabase(const std::vector<ServiceListing>& services)
{
    GattDatabase database;
    UsedHandles used = ListedHandles(services);
    std::vector<std::size_t> mirrored;
    for (std::size_t at : OrderByHandle(services))
        if (IsMirroredService(services[at].uuid))
            mirrored.push_back(at);
    for (std::size_t i = 0; i < mirrored.size(); ++i)
    {
        // A CCCD added at the end of a service must not take the next service's first handle.
        std::uint32_t limit = i + 1 < mirrored.size() ? services[mirrored[i + 1]].handle : 0xFFFFu;
        database.services.push_back(MirrorService(services[mirrored[i]], mirrored[i], limit, used));
    }
    database.table = BuildTable(database.services);
    return database;
}

std::size_t GattDatabase::CharacteristicCount() const
{
    std::size_t count = 0;
    for (const ServiceRecord& service : services)
        count += service.characteristics.size();
    return count;
}

const AttributeEntry* GattDatabase::FindAttribute(std::uint16_t handle) const
{
    auto at = std::lower_bound(table.begin(), table.end(), handle,
                               [](const AttributeEntry& entry, std::uint16_t h) { return entry.handle < h; });
    return at != table.end() && at->handle == handle ? &*at : nullptr;
}

std::optional<Bytes> GattDatabase::DeclarationValue(const AttributeEntry& entry) const
{
    if (entry.service >= services.size())
        return std::nullopt;
    const ServiceRecord& service = services[entry.service];
    Bytes value;
    if (entry.kind == AttributeKind::Service)
    {
        AppendUuid(value, service.uuid);
        return value;
    }
    if (entry.kind != AttributeKind::CharacteristicDeclaration ||
        entry.characteristic >= service.characteristics.size())
        return std::nullopt;
    const CharacteristicRecord& characteristic = service.characteristics[entry.characteristic];
    value.push_back(characteristic.properties);
    value.push_back(static_cast<std::uint8_t>(characteristic.valueHandle));
    value.push_back(static_cast<std::uint8_t>(characteristic.valueHandle >> 8));
    AppendUuid(value, characteristic.uuid);
    return value;
}

} // namespace Pd::Bt
