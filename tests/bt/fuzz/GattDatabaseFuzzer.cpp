// Whatever handles, UUIDs and properties a device makes Windows report, the mirror must come
// out consistent: a sorted table whose entries point at existing records, found by handle,
// with well-formed declaration values.
#include "bt/gatt/Database.h"
#include "tests/support/FuzzCheck.h"

#include <cstdlib>

namespace
{

using namespace Pd::Bt;

using PdTest::Check;

Uuid PickUuid(std::uint8_t choice)
{
    switch (choice % 4)
    {
    case 0:
        return Uuid16(0x180F);
    case 1:
        return Uuid16(HumanInterfaceDeviceUuid);
    case 2:
        return Uuid16(ClientConfigurationUuid);
    default:
        return UuidFromGuidFields(0xF000AA00, choice, 0x4000, {});
    }
}

void CheckDatabase(const GattDatabase& database)
{
    for (std::size_t i = 0; i < database.table.size(); ++i)
    {
        const AttributeEntry& entry = database.table[i];
        Check(i == 0 || database.table[i - 1].handle <= entry.handle);
        const AttributeEntry* found = database.FindAttribute(entry.handle);
        Check(found && found->handle == entry.handle);
        Check(entry.service < database.services.size());
        const ServiceRecord& service = database.services[entry.service];
        Check(service.startHandle <= service.endHandle);
        if (entry.kind == AttributeKind::Service)
        {
            std::size_t length = database.DeclarationValue(entry).value().size();
            Check(length == 2 || length == 16);
            continue;
        }
        Check(entry.characteristic < service.characteristics.size());
        const CharacteristicRecord& characteristic = service.characteristics[entry.characteristic];
        Check(characteristic.valueHandle == characteristic.declarationHandle + 1);
        if (entry.kind == AttributeKind::CharacteristicDeclaration)
        {
            std::size_t length = database.DeclarationValue(entry).value().size();
            Check(length == 5 || length == 19);
        }
        if (entry.kind == AttributeKind::Descriptor)
            Check(entry.descriptor < characteristic.descriptors.size());
        else
            Check(!database.DeclarationValue(entry) == (entry.kind == AttributeKind::CharacteristicValue));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Input: records of 4 bytes: what (service, characteristic of the last service, descriptor
    // of the last characteristic), a UUID or properties choice, and the handle.
    std::vector<ServiceListing> services;
    for (std::size_t at = 0; at + 4 <= size; at += 4)
    {
        std::uint8_t what = data[at] % 3, choice = data[at + 1];
        std::uint16_t handle = static_cast<std::uint16_t>(data[at + 2] | data[at + 3] << 8);
        if (what == 0 || services.empty())
            services.push_back({handle, PickUuid(choice), {}});
        else if (what == 1 || services.back().characteristics.empty())
            services.back().characteristics.push_back({handle, PickUuid(choice >> 2), choice, {}});
        else
            services.back().characteristics.back().descriptors.push_back({handle, PickUuid(choice)});
    }
    CheckDatabase(BuildGattDatabase(services));
    return 0;
}
