// A simulated device's GATT database read through the platform interface and mirrored: the
// table, the log lines, the Windows objects behind the records, and every way the read fails.
#include "bt/gatt/Mirror.h"

#include "tests/support/LogCapture.h"
#include "tests/support/SimScenario.h"

#include <gtest/gtest.h>

namespace
{

using namespace Pd::Bt;
using Pd::Test::LogCapture;
using Pd::Test::SimScenario;

std::unique_ptr<Pd::Platform::LeDevice> Open(std::uint64_t address, bool random = false)
{
    auto device = Pd::Platform::OpenLeDevice(address, random);
    EXPECT_TRUE(device) << (device ? ""
                                   : std::string(device.error().text.begin(), device.error().text.end()));
    return device ? std::move(*device) : nullptr;
}

TEST(GuidToUuid, TheBaseGuidOfA16BitValueBecomesItsShortUuid)
{
    // {0000180F-0000-1000-8000-00805F9B34FB}
    GUID battery{0x0000180F, 0x0000, 0x1000, {0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB}};
    EXPECT_EQ(GuidToUuid(battery), Uuid16(0x180F));
}

// A keyboard-thermometer: HID first (not mirrored), a vendor service listed before the battery
// service although its handles come later, a notifying characteristic without a CCCD.
constexpr const char* DeviceScenario = R"({"bluetooth":{"devices":[{"address":"C0FFEE000001","random":true,
  "services":[
    {"uuid":"1812","characteristics":[{"uuid":"2A4D","properties":18}]},
    {"uuid":"12345678-9ABC-DEF0-1122-334455667788","handle":32,"characteristics":[
       {"uuid":"12345678-9ABC-DEF0-1122-334455667789","properties":16},
       {"uuid":"2A00","handle":36,"properties":2,"descriptors":[{"uuid":"2901"}]}]},
    {"uuid":"180F","handle":16,"characteristics":[
       {"uuid":"2A19","properties":18,"descriptors":[{"uuid":"2902"}]}]}]}]}})";

TEST(GattMirror, SimulatedDeviceIsMirroredWithItsOwnHandlesAndObjects)
{
    SimScenario pc(DeviceScenario);
    LogCapture log;
    auto device = Open(0xC0FFEE000001, true);
    ASSERT_TRUE(device);
    auto mirror = MirrorGattDatabase(*device, 0xC0FFEE000001, {});
    ASSERT_TRUE(mirror);
    ASSERT_TRUE(*mirror);
    const GattDatabase& database = (*mirror)->Database();

    // Battery 0x10-0x13, vendor 0x20 with characteristics at 0x21 (CCCD added at 0x23) and 0x24.
    std::vector<std::pair<std::uint16_t, Bytes>> declarations;
    std::vector<std::uint16_t> handles;
    for (const AttributeEntry& entry : database.table)
    {
        handles.push_back(entry.handle);
        if (auto value = database.DeclarationValue(entry))
            declarations.emplace_back(entry.handle, *value);
    }
    EXPECT_EQ(handles,
              (std::vector<std::uint16_t>{0x10, 0x11, 0x12, 0x13, 0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26}));
    Bytes vendorService = {0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11,
                           0xF0, 0xDE, 0xBC, 0x9A, 0x78, 0x56, 0x34, 0x12};
    Bytes vendorCharacteristic = {0x10, 0x22, 0x00, 0x89, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22,
                                  0x11, 0xF0, 0xDE, 0xBC, 0x9A, 0x78, 0x56, 0x34, 0x12};
    EXPECT_EQ(declarations, (std::vector<std::pair<std::uint16_t, Bytes>>{
                                {0x10, {0x0F, 0x18}},
                                {0x11, {0x12, 0x12, 0x00, 0x19, 0x2A}},
                                {0x20, vendorService},
                                {0x21, vendorCharacteristic},
                                {0x24, {0x02, 0x25, 0x00, 0x00, 0x2A}},
                            }));
    EXPECT_EQ(database.services[1].endHandle, 0x26);
    EXPECT_EQ(log.Count("gatt C0FFEE000001: 2 services, 3 characteristics, 11 attributes"), 1u) << log.Dump();

    // The objects behind the records are the ones Windows listed for them.
    EXPECT_EQ((*mirror)->Service(0).AttributeHandle(), 0x10);
    EXPECT_EQ((*mirror)->Service(1).AttributeHandle(), 0x20);
    EXPECT_EQ((*mirror)->Characteristic(1, 1).AttributeHandle(), 0x24);
    EXPECT_EQ((*mirror)->Characteristic(1, 1).Properties(), 2u);
    const AttributeEntry* added = database.FindAttribute(0x23);
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(added->type, Uuid16(0x2902));
    EXPECT_EQ((*mirror)->Descriptor(added->service, added->characteristic, added->descriptor), nullptr);
    const AttributeEntry* description = database.FindAttribute(0x26);
    ASSERT_NE(description, nullptr);
    auto object =
        (*mirror)->Descriptor(description->service, description->characteristic, description->descriptor);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->AttributeHandle(), 0x26);
}

TEST(GattMirror, ADeviceWithOnlyHumanInterfaceDeviceGivesAnEmptyTable)
{
    SimScenario pc(R"({"bluetooth":{"devices":[{"address":"C0FFEE000002",
        "services":[{"uuid":"1812","characteristics":[{"uuid":"2A4D","properties":18}]}]}]}})");
    LogCapture log;
    auto device = Open(0xC0FFEE000002);
    ASSERT_TRUE(device);
    auto mirror = MirrorGattDatabase(*device, 0xC0FFEE000002, {});
    ASSERT_TRUE(mirror && *mirror);
    EXPECT_TRUE((*mirror)->Database().table.empty());
    EXPECT_EQ(log.Count("gatt C0FFEE000002: 0 services, 0 characteristics, 0 attributes"), 1u) << log.Dump();
}

TEST(GattMirror, FailedListingsOfCharacteristicsOrDescriptorsLeaveThemOut)
{
    SimScenario pc(R"({"bluetooth":{"devices":[{"address":"C0FFEE000003","services":[
        {"uuid":"180A","status":3,"characteristics":[{"uuid":"2A29","properties":2}]},
        {"uuid":"180D","characteristics":[{"uuid":"2A37","properties":16,"status":1,
            "descriptors":[{"uuid":"2901"}]}]}]}]}})");
    auto device = Open(0xC0FFEE000003);
    ASSERT_TRUE(device);
    auto mirror = MirrorGattDatabase(*device, 0xC0FFEE000003, {});
    ASSERT_TRUE(mirror && *mirror);
    const GattDatabase& database = (*mirror)->Database();
    ASSERT_EQ(database.services.size(), 2u);
    EXPECT_TRUE(database.services[0].characteristics.empty());
    EXPECT_EQ(database.services[0].endHandle, database.services[0].startHandle);
    // The heart-rate characteristic lost its listed description and got a CCCD in its place.
    ASSERT_EQ(database.services[1].characteristics.size(), 1u);
    const auto& descriptors = database.services[1].characteristics[0].descriptors;
    ASSERT_EQ(descriptors.size(), 1u);
    EXPECT_EQ(descriptors[0].uuid, Uuid16(0x2902));
    EXPECT_FALSE(descriptors[0].source);
}

TEST(GattMirror, UnlistableServicesAreLoggedWithTheirStatus)
{
    SimScenario pc(R"({"bluetooth":{"devices":[{"address":"C0FFEE000004","servicesStatus":1,
        "services":[{"uuid":"180F"}]}]}})");
    LogCapture log;
    auto device = Open(0xC0FFEE000004);
    ASSERT_TRUE(device);
    auto mirror = MirrorGattDatabase(*device, 0xC0FFEE000004, {});
    ASSERT_TRUE(mirror);
    EXPECT_FALSE(*mirror);
    EXPECT_EQ(log.Count("gatt C0FFEE000004: services unavailable (status 1)"), 1u) << log.Dump();
}

TEST(GattMirror, AWindowsFailureIsHandedToTheCaller)
{
    SimScenario pc(R"({"bluetooth":{"devices":[{"address":"C0FFEE000005","servicesError":"0x80070005"}]}})");
    LogCapture log;
    auto device = Open(0xC0FFEE000005);
    ASSERT_TRUE(device);
    auto mirror = MirrorGattDatabase(*device, 0xC0FFEE000005, {});
    ASSERT_FALSE(mirror);
    EXPECT_EQ(static_cast<std::uint32_t>(mirror.error().code), 0x80070005u);
    EXPECT_EQ(log.Count("gatt C0FFEE000005"), 0u) << "the caller logs the failure";
}

TEST(OpenLeDevice, OnlyAKnownAddressOfTheRightTypeOpens)
{
    SimScenario pc(DeviceScenario);
    EXPECT_TRUE(Open(0xC0FFEE000001, true));
    EXPECT_FALSE(Open(0xC0FFEE000001, false));
    EXPECT_FALSE(Open(0xC0FFEE000009, true));
}

TEST(OpenLeDevice, WithoutSimulationTheClassIsNotRegistered)
{
    ASSERT_EQ(::GetEnvironmentVariableW(L"PELDRA_SIMULATION", nullptr, 0), 0u);
    auto device = Pd::Platform::OpenLeDevice(0xC0FFEE000001, true);
    ASSERT_FALSE(device);
    EXPECT_EQ(static_cast<std::uint32_t>(device.error().code), 0x80040154u);
}

} // namespace
