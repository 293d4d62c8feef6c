// The attribute table that mirrors a real device's GATT database with the device's own handles.
// Built once from what Windows lists (plain values here; the Windows objects stay with the
// caller, found again through each record's `source`), never changed afterwards. The table
// holds no values: declarations come from the records, everything else from the device.
#pragma once

#include "bt/gatt/Uuid.h"
#include "bt/hci/Bytes.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace Pd::Bt
{

// ---- What Windows lists, in the order it lists it ----

struct DescriptorListing
{
    std::uint16_t handle = 0;
    Uuid uuid{};
};

struct CharacteristicListing
{
    std::uint16_t handle = 0; // the declaration's handle
    Uuid uuid{};
    std::uint32_t properties = 0;               // Windows' properties; the low byte is the ATT one
    std::vector<DescriptorListing> descriptors; // empty when Windows could not list them
};

struct ServiceListing
{
    std::uint16_t handle = 0;
    Uuid uuid{};
    std::vector<CharacteristicListing> characteristics; // empty when Windows could not list them
};

// ---- The mirror ----

struct DescriptorRecord
{
    std::uint16_t handle = 0;
    Uuid uuid{};
    std::optional<std::size_t> source; // position in its listing; none for a CCCD added here
};

struct CharacteristicRecord
{
    std::uint16_t declarationHandle = 0;
    std::uint16_t valueHandle = 0;
    std::uint8_t properties = 0;
    Uuid uuid{};
    std::size_t source = 0;
    std::vector<DescriptorRecord> descriptors; // ascending handle
};

struct ServiceRecord
{
    std::uint16_t startHandle = 0;
    std::uint16_t endHandle = 0;
    Uuid uuid{};
    std::size_t source = 0;
    std::vector<CharacteristicRecord> characteristics; // ascending declaration handle
};

enum class AttributeKind : std::uint8_t
{
    Service = 0,
    CharacteristicDeclaration = 1,
    CharacteristicValue = 2,
    Descriptor = 3,
};

struct AttributeEntry
{
    std::uint16_t handle = 0;
    AttributeKind kind = AttributeKind::Service;
    Uuid type{};
    std::uint32_t service = 0;
    std::uint32_t characteristic = 0; // 0 for a service declaration
    std::uint32_t descriptor = 0;     // 0 unless a descriptor
};

inline constexpr std::uint8_t NotifyProperty = 0x10;
inline constexpr std::uint8_t IndicateProperty = 0x20;

struct GattDatabase
{
    std::vector<ServiceRecord> services; // ascending start handle
    std::vector<AttributeEntry> table;   // ascending handle

    std::size_t CharacteristicCount() const;

    // The entry with exactly this handle, or null (a halving search).
    const AttributeEntry* FindAttribute(std::uint16_t handle) const;

    // The value of a service or characteristic declaration as the ATT server presents it: the
    // service UUID; or properties, value handle and characteristic UUID. UUIDs take 2 bytes
    // when they are 16-bit ones, else 16. None for values and descriptors.
    std::optional<Bytes> DeclarationValue(const AttributeEntry& entry) const;
};

// False for services that are not mirrored at all (Human Interface Device: Windows keeps it).
bool IsMirroredService(const Uuid& uuid);

// Builds the mirror: services and characteristics sorted by handle, unmirrored services dropped,
// a missing CCCD added right after the value of a notifying or indicating characteristic where
// that handle is free, end handles grown over the last attribute, and the sorted table.
GattDatabase BuildGattDatabase(const std::vector<ServiceListing>& services);

} // namespace Pd::Bt
