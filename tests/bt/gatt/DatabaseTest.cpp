// The attribute table built from what Windows lists: handles, order, added CCCDs, end handles
// and the exact bytes of the declarations.
#include "bt/gatt/Database.h"

#include <gtest/gtest.h>

namespace
{

using namespace Pd::Bt;

// A vendor UUID: F000AA00-0451-4000-B000-000000000000 with the given last byte.
Uuid Vendor(std::uint8_t last)
{
    return UuidFromGuidFields(0xF000AA00, 0x0451, 0x4000, {0xB0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, last});
}

DescriptorListing Descriptor(std::uint16_t handle, std::uint16_t uuid)
{
    return {handle, Uuid16(uuid)};
}

CharacteristicListing Characteristic(std::uint16_t handle, Uuid uuid, std::uint32_t properties,
                                     std::vector<DescriptorListing> descriptors = {})
{
    return {handle, uuid, properties, std::move(descriptors)};
}

ServiceListing Service(std::uint16_t handle, Uuid uuid,
                       std::vector<CharacteristicListing> characteristics = {})
{
    return {handle, uuid, std::move(characteristics)};
}

struct Row
{
    std::uint16_t handle;
    AttributeKind kind;
    Uuid type;
    Bytes declaration; // expected declaration value; empty for values and descriptors

    friend bool operator==(const Row&, const Row&) = default;
};

std::vector<Row> Rows(const GattDatabase& database)
{
    std::vector<Row> rows;
    for (const AttributeEntry& entry : database.table)
        rows.push_back(
            {entry.handle, entry.kind, entry.type, database.DeclarationValue(entry).value_or(Bytes{})});
    return rows;
}

Bytes Concat(Bytes head, const Uuid& uuid)
{
    head.insert(head.end(), uuid.begin(), uuid.end());
    return head;
}

void PrintTo(const Row& row, std::ostream* out)
{
    *out << "handle " << row.handle << " kind " << int(row.kind) << " value";
    for (std::uint8_t b : row.declaration)
        *out << ' ' << std::hex << int(b);
}

TEST(GattTable, MixedUuidSizesGiveExactDeclarationBytesInHandleOrder)
{
    // Battery (16-bit) at 0x0010, a vendor service (128-bit) at 0x0001: listed out of order.
    std::vector<ServiceListing> listing = {
        Service(0x0010, Uuid16(0x180F),
                {Characteristic(0x0011, Uuid16(0x2A19), 0x12, {Descriptor(0x0013, 0x2902)})}),
        Service(0x0001, Vendor(0x01),
                {Characteristic(0x0005, Uuid16(0x2A00), 0x0102),
                 Characteristic(0x0002, Vendor(0x02), 0x0A, {Descriptor(0x0004, 0x2901)})}),
    };
    GattDatabase database = BuildGattDatabase(listing);

    const Uuid service = Uuid16(0x2800), declaration = Uuid16(0x2803);
    std::vector<Row> expected = {
        {0x0001, AttributeKind::Service, service, Concat({}, Vendor(0x01))},
        {0x0002, AttributeKind::CharacteristicDeclaration, declaration,
         Concat({0x0A, 0x03, 0x00}, Vendor(0x02))},
        {0x0003, AttributeKind::CharacteristicValue, Vendor(0x02), {}},
        {0x0004, AttributeKind::Descriptor, Uuid16(0x2901), {}},
        // Only the low byte of Windows' properties is the ATT one.
        {0x0005, AttributeKind::CharacteristicDeclaration, declaration, {0x02, 0x06, 0x00, 0x00, 0x2A}},
        {0x0006, AttributeKind::CharacteristicValue, Uuid16(0x2A00), {}},
        {0x0010, AttributeKind::Service, service, {0x0F, 0x18}},
        {0x0011, AttributeKind::CharacteristicDeclaration, declaration, {0x12, 0x12, 0x00, 0x19, 0x2A}},
        {0x0012, AttributeKind::CharacteristicValue, Uuid16(0x2A19), {}},
        {0x0013, AttributeKind::Descriptor, Uuid16(0x2902), {}},
    };
    EXPECT_EQ(Rows(database), expected);

    ASSERT_EQ(database.services.size(), 2u);
    EXPECT_EQ(database.services[0].startHandle, 0x0001);
    EXPECT_EQ(database.services[0].endHandle, 0x0006);
    EXPECT_EQ(database.services[0].source, 1u);
    EXPECT_EQ(database.services[1].endHandle, 0x0013);
    // Characteristics sorted by handle, each remembering where Windows listed it.
    EXPECT_EQ(database.services[0].characteristics[0].declarationHandle, 0x0002);
    EXPECT_EQ(database.services[0].characteristics[0].source, 1u);
    EXPECT_EQ(database.CharacteristicCount(), 3u);
}

TEST(GattTable, EntriesPointBackAtTheirRecords)
{
    GattDatabase database = BuildGattDatabase(
        {Service(0x0020, Uuid16(0x180D),
                 {Characteristic(0x0021, Uuid16(0x2A37), 0x10, {Descriptor(0x0023, 0x2902)}),
                  Characteristic(0x0024, Uuid16(0x2A38), 0x02,
                                 {Descriptor(0x0027, 0x2901), Descriptor(0x0026, 0x2900)})})});
    const AttributeEntry* entry = database.FindAttribute(0x0027);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->kind, AttributeKind::Descriptor);
    EXPECT_EQ(entry->characteristic, 1u);
    // Descriptors are sorted: 0x0026 first, 0x0027 second, each with its listing position.
    EXPECT_EQ(entry->descriptor, 1u);
    const DescriptorRecord& record = database.services[0].characteristics[1].descriptors[entry->descriptor];
    EXPECT_EQ(record.handle, 0x0027);
    EXPECT_EQ(record.source, 0u);

    for (std::uint16_t handle : {0x0000, 0x001F, 0x0028, 0xFFFF})
        EXPECT_EQ(database.FindAttribute(handle), nullptr) << handle;
    for (const AttributeEntry& each : database.table)
        EXPECT_EQ(database.FindAttribute(each.handle), &each);
}

TEST(GattTable, HumanInterfaceDeviceIsNotMirrored)
{
    GattDatabase onlyHid =
        BuildGattDatabase({Service(0x0001, Uuid16(0x1812), {Characteristic(0x0002, Uuid16(0x2A4D), 0x12)})});
    EXPECT_TRUE(onlyHid.services.empty());
    EXPECT_TRUE(onlyHid.table.empty());

    GattDatabase withBattery =
        BuildGattDatabase({Service(0x0001, Uuid16(0x1812)), Service(0x0008, Uuid16(0x180F))});
    ASSERT_EQ(withBattery.services.size(), 1u);
    EXPECT_EQ(withBattery.services[0].source, 1u);
    EXPECT_EQ(withBattery.table.size(), 1u);
}

// The CCCD the mirror adds for a notifying characteristic at 0x0010 with no CCCD listed.
std::optional<std::uint16_t> AddedCccd(std::uint32_t properties, std::vector<DescriptorListing> descriptors,
                                       std::optional<std::uint16_t> nextCharacteristic,
                                       std::optional<std::uint16_t> nextService = std::nullopt)
{
    std::vector<CharacteristicListing> characteristics = {
        Characteristic(0x0010, Uuid16(0x2A37), properties, std::move(descriptors))};
    if (nextCharacteristic)
        characteristics.push_back(Characteristic(*nextCharacteristic, Uuid16(0x2A38), 0x02));
    std::vector<ServiceListing> services = {Service(0x000F, Uuid16(0x180D), characteristics)};
    if (nextService)
        services.push_back(Service(*nextService, Uuid16(0x180F)));
    GattDatabase database = BuildGattDatabase(services);
    for (const DescriptorRecord& d : database.services[0].characteristics[0].descriptors)
        if (!d.source)
        {
            EXPECT_EQ(d.uuid, Uuid16(0x2902));
            EXPECT_EQ(database.FindAttribute(d.handle)->kind, AttributeKind::Descriptor);
            return d.handle;
        }
    return std::nullopt;
}

TEST(GattCccd, AddedRightAfterTheValueWhenThatHandleIsFree)
{
    EXPECT_EQ(AddedCccd(0x10, {}, 0x0013), 0x0012);
    EXPECT_EQ(AddedCccd(0x20, {}, 0x0013), 0x0012); // indicate as well
    EXPECT_EQ(AddedCccd(0x10, {}, std::nullopt), 0x0012);
    // A descriptor further on does not stop it; the CCCD comes first.
    EXPECT_EQ(AddedCccd(0x10, {Descriptor(0x0014, 0x2901)}, 0x0016), 0x0012);
}

TEST(GattCccd, NotAddedWhereTheHandleIsTakenOrNotNeeded)
{
    EXPECT_EQ(AddedCccd(0x10, {}, 0x0012), std::nullopt);                           // next declaration
    EXPECT_EQ(AddedCccd(0x10, {Descriptor(0x0012, 0x2901)}, 0x0013), std::nullopt); // user description there
    EXPECT_EQ(AddedCccd(0x10, {Descriptor(0x0014, 0x2902)}, 0x0016), std::nullopt); // has one elsewhere
    EXPECT_EQ(AddedCccd(0x02 | 0x0100, {}, 0x0013), std::nullopt); // neither notify nor indicate
    // The next service's declaration is not overwritten by a CCCD of the last characteristic.
    EXPECT_EQ(AddedCccd(0x10, {}, std::nullopt, 0x0012), std::nullopt);
    EXPECT_EQ(AddedCccd(0x10, {}, std::nullopt, 0x0013), 0x0012);
}

TEST(GattCccd, AddedCccdGrowsTheEndHandleAndKeepsHandlesUnique)
{
    GattDatabase database =
        BuildGattDatabase({Service(0x0001, Uuid16(0x180D), {Characteristic(0x0002, Uuid16(0x2A37), 0x10)}),
                           Service(0x0005, Uuid16(0x180F), {Characteristic(0x0006, Uuid16(0x2A19), 0x12)})});
    EXPECT_EQ(database.services[0].endHandle, 0x0004);
    EXPECT_EQ(database.services[1].endHandle, 0x0008);
    for (std::size_t i = 1; i < database.table.size(); ++i)
        EXPECT_LT(database.table[i - 1].handle, database.table[i].handle);
}

TEST(GattCccd, NeverTakesAHandleListedElsewhere)
{
    // Windows lists the second service's characteristic inside the first service's range.
    GattDatabase database =
        BuildGattDatabase({Service(0x0001, Uuid16(0x180D), {Characteristic(0x0002, Uuid16(0x2A37), 0x10)}),
                           Service(0x0020, Uuid16(0x180F), {Characteristic(0x0004, Uuid16(0x2A19), 0x12)})});
    for (std::size_t i = 1; i < database.table.size(); ++i)
        EXPECT_LT(database.table[i - 1].handle, database.table[i].handle);
    EXPECT_TRUE(database.services[0].characteristics[0].descriptors.empty());
}

TEST(GattTable, EndHandleIsTheLastDescriptorOrValue)
{
    // A service at 0x0001 with one characteristic at 0x0002 and a CCCD at 0x0004.
    GattDatabase database = BuildGattDatabase(
        {Service(0x0001, Uuid16(0x180F),
                 {Characteristic(0x0002, Uuid16(0x2A19), 0x12, {Descriptor(0x0004, 0x2902)})}),
         Service(0x0005, Uuid16(0x180A)),
         Service(0x0006, Uuid16(0x180A), {Characteristic(0x0007, Uuid16(0x2A29), 0x02)})});
    EXPECT_EQ(database.services[0].endHandle, 0x0004);
    EXPECT_EQ(database.services[1].endHandle, 0x0005); // no characteristics: its own handle
    EXPECT_EQ(database.services[2].endHandle, 0x0008);
}

TEST(GattTable, HandlesAtTheTopOfTheRange)
{
    // A declaration at 0xFFFE has its value at 0xFFFF and no room for a CCCD; one at 0xFFFF
    // has no room for its value and is left out rather than wrapping to handle 0.
    GattDatabase database = BuildGattDatabase({Service(
        0xFFFD, Uuid16(0x180D),
        {Characteristic(0xFFFE, Uuid16(0x2A37), 0x10), Characteristic(0xFFFF, Uuid16(0x2A38), 0x10)})});
    ASSERT_EQ(database.services[0].characteristics.size(), 1u);
    EXPECT_EQ(database.services[0].characteristics[0].valueHandle, 0xFFFF);
    EXPECT_TRUE(database.services[0].characteristics[0].descriptors.empty());
    EXPECT_EQ(database.services[0].endHandle, 0xFFFF);
    EXPECT_EQ(database.table.size(), 3u);
    EXPECT_EQ(database.FindAttribute(0x0000), nullptr);
}

} // namespace
