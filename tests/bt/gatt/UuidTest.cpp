// UUIDs in air order: GUID fields reversed into 16 bytes, and the 16-bit short form.
#include "bt/gatt/Uuid.h"

#include <gtest/gtest.h>

namespace
{

using namespace Pd::Bt;

TEST(Uuid, GuidFieldsBecomeTheTextOrderReversed)
{
    // 12345678-9ABC-DEF0-1122-334455667788
    Uuid uuid =
        UuidFromGuidFields(0x12345678, 0x9ABC, 0xDEF0, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88});
    Uuid expected = {0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11,
                     0xF0, 0xDE, 0xBC, 0x9A, 0x78, 0x56, 0x34, 0x12};
    EXPECT_EQ(uuid, expected);
}

TEST(Uuid, TheBaseGuidOfA16BitValueIsItsShortForm)
{
    // 0000180F-0000-1000-8000-00805F9B34FB, the battery service.
    Uuid battery =
        UuidFromGuidFields(0x0000180F, 0x0000, 0x1000, {0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB});
    EXPECT_EQ(battery, Uuid16(0x180F));
    EXPECT_EQ(ShortUuid(battery), 0x180F);
    EXPECT_EQ(ShortUuid(Uuid16(0xFFFF)), 0xFFFF);
}

TEST(Uuid, AnyOtherByteMakesIt128Bit)
{
    for (std::size_t i : {0u, 11u, 14u, 15u})
    {
        Uuid uuid = Uuid16(0x2A19);
        uuid[i] ^= 0x01;
        EXPECT_FALSE(ShortUuid(uuid)) << "byte " << i;
    }
    // 0x0000180F in the upper 32 bits of a vendor UUID is still not a short one.
    EXPECT_FALSE(ShortUuid(UuidFromGuidFields(0x0000180F, 0, 0, {})));
}

} // namespace
