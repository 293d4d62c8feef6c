// Bluetooth UUIDs as the air interface carries them: 16 bytes, least significant byte first.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace Pd::Bt
{

using Uuid = std::array<std::uint8_t, 16>;

// The UUID of a GUID's fields (Data1, Data2, Data3, Data4 as Windows holds them): the GUID
// written out in its big-endian text order, then all 16 bytes reversed.
Uuid UuidFromGuidFields(std::uint32_t data1, std::uint16_t data2, std::uint16_t data3,
                        const std::array<std::uint8_t, 8>& data4);

// The 16-bit value widened with the Bluetooth base UUID 00000000-0000-1000-8000-00805F9B34FB.
Uuid Uuid16(std::uint16_t value);

// The 16-bit value when the UUID is the base UUID with only bytes 12 and 13 set.
std::optional<std::uint16_t> ShortUuid(const Uuid& uuid);

inline constexpr std::uint16_t PrimaryServiceUuid = 0x2800;
inline constexpr std::uint16_t SecondaryServiceUuid = 0x2801;
inline constexpr std::uint16_t IncludeUuid = 0x2802;
inline constexpr std::uint16_t CharacteristicUuid = 0x2803;
inline constexpr std::uint16_t ClientConfigurationUuid = 0x2902;
inline constexpr std::uint16_t HumanInterfaceDeviceUuid = 0x1812;

} // namespace Pd::Bt
