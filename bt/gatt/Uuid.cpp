#include "bt/gatt/Uuid.h"

#include <algorithm>

namespace Pd::Bt
{
namespace
{

// FB 34 9B 5F 80 00 00 80 00 10 00 00, then the 16-bit value, then 00 00.
constexpr Uuid BaseUuid = {0xFB, 0x34, 0x9B, 0x5F, 0x80, 0x00, 0x00, 0x80,
                           0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

} // namespace

Uuid UuidFromGuidFields(std::uint32_t data1, std::uint16_t data2, std::uint16_t data3,
                        const std::array<std::uint8_t, 8>& data4)
{
    Uuid bigEndian = {static_cast<std::uint8_t>(data1 >> 24), static_cast<std::uint8_t>(data1 >> 16),
                      static_cast<std::uint8_t>(data1 >> 8),  static_cast<std::uint8_t>(data1),
                      static_cast<std::uint8_t>(data2 >> 8),  static_cast<std::uint8_t>(data2),
                      static_cast<std::uint8_t>(data3 >> 8),  static_cast<std::uint8_t>(data3)};
    std::copy(data4.begin(), data4.end(), bigEndian.begin() + 8);
    std::reverse(bigEndian.begin(), bigEndian.end());
    return bigEndian;
}

Uuid Uuid16(std::uint16_t value)
{
    Uuid uuid = BaseUuid;
    uuid[12] = static_cast<std::uint8_t>(value);
    uuid[13] = static_cast<std::uint8_t>(value >> 8);
    return uuid;
}

std::optional<std::uint16_t> ShortUuid(const Uuid& uuid)
{
    for (std::size_t i = 0; i < uuid.size(); ++i)
        if (i != 12 && i != 13 && uuid[i] != BaseUuid[i])
            return std::nullopt;
    return static_cast<std::uint16_t>(uuid[12] | uuid[13] << 8);
}

} // namespace Pd::Bt
