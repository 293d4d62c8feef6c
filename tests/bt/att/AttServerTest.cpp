#include "bt/att/AttServer.h"
#include "bt/att/AttPdu.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

namespace
{

using namespace Pd::Bt;

Bytes Hex(std::string_view text)
{
    Bytes bytes;
    for (std::size_t i = 0; i + 1 < text.size(); i += text[i] == ' ' ? 1 : 2)
        if (text[i] != ' ')
            bytes.push_back(
                static_cast<std::uint8_t>(std::stoi(std::string(text.substr(i, 2)), nullptr, 16)));
    return bytes;
}

// Bytes of an over-long value, as hex.
std::string Ee(std::size_t bytes)
{
    return std::string(bytes * 2, 'E');
}

const Uuid Custom = UuidFromGuidFields(0xF000AA00, 0x0451, 0x4000, {0xB0, 0, 0, 0, 0, 0, 0, 0});

// 0x0001 battery service: level 0x0002/3 (notify; CCCD added at 4), level 0x0005/6.
// 0x0010 custom service: custom 0x0011/12, name 0x0013/14 with a user description at 0x0015.
// 0x0020 generic access: four characteristics at 0x0021, 23, 25, 27.
GattDatabase Database()
{
    std::vector<ServiceListing> services = {
        {0x0001, Uuid16(0x180F), {{0x0002, Uuid16(0x2A19), 0x12, {}}, {0x0005, Uuid16(0x2A19), 0x02, {}}}},
        {0x0010,
         Custom,
         {{0x0011, Custom, 0x0A, {}}, {0x0013, Uuid16(0x2A00), 0x02, {{0x0015, Uuid16(0x2901)}}}}},
        {0x0020, Uuid16(0x1800), {}}};
    for (std::uint16_t h = 0x21; h < 0x29; h += 2)
        services[2].characteristics.push_back({h, Uuid16(static_cast<std::uint16_t>(0x2A00 + h)), 0x02, {}});
    return BuildGattDatabase(services);
}

struct MemoryDevice : AttDevice
{
    std::map<std::uint16_t, DeviceAnswer> answers; // by handle; others read 11 22
    std::vector<std::pair<std::uint16_t, Bytes>> writes;
    std::string configured; // per CCCD write: the mode, then n(otify), i(ndicate) or - (none)

    DeviceAnswer Read(const AttributeEntry& entry) override
    {
        return answers.contains(entry.handle) ? answers[entry.handle] : DeviceAnswer{0, {0x11, 0x22}, {}};
    }
    DeviceAnswer Write(const AttributeEntry& entry, ByteView value, bool) override
    {
        writes.emplace_back(entry.handle, Bytes(value.begin(), value.end()));
        return answers[entry.handle];
    }
    DeviceAnswer WriteClientConfiguration(const AttributeEntry&, ClientConfiguration mode) override
    {
        configured += std::to_string(static_cast<int>(mode));
        return {};
    }
    DeviceAnswer Subscribe(const AttributeEntry&, bool enable, bool indicate) override
    {
        configured += !enable ? '-' : indicate ? 'i' : 'n';
        return {};
    }
};

struct AttServerTest : testing::Test
{
    GattDatabase database = Database();
    MemoryDevice device;
    std::vector<Bytes> sent;
    AttServer server{database, device, [this](Bytes pdu) { sent.push_back(std::move(pdu)); }};

    AttServerTest() { device.answers[0x0014] = {0x05, {}, {}}; }

    // The one answer to a request (empty when none was sent).
    Bytes Ask(std::string_view request) { return Ask(Hex(request)); }
    Bytes Ask(const Bytes& request)
    {
        sent.clear();
        EXPECT_TRUE(server.HandlePdu(request));
        EXPECT_LE(sent.size(), 1u);
        return sent.empty() ? Bytes{} : sent[0];
    }
};

TEST_F(AttServerTest, PdusShorterThanTheirFixedPartGetInvalidPdu)
{
    const std::pair<std::uint8_t, std::size_t> shortest[] = {{0x02, 3}, {0x04, 5}, {0x06, 7}, {0x08, 5},
                                                             {0x0A, 3}, {0x0C, 5}, {0x10, 5}, {0x12, 3},
                                                             {0x16, 5}, {0x18, 2}, {0x52, 3}};
    for (auto [opcode, fixed] : shortest)
        for (std::size_t length = 1; length < fixed; ++length)
        {
            Bytes pdu(length, 0xFF);
            pdu[0] = opcode;
            Bytes expected = opcode == Att::WriteCommand ? Bytes{} : Bytes{0x01, opcode, 0x00, 0x00, 0x04};
            EXPECT_EQ(Ask(pdu), expected) << int(opcode) << " length " << length;
        }
}

TEST_F(AttServerTest, RequestsGetTheirExactAnswers)
{
    const std::string custom = "00 00 00 00 00 00 00 B0 00 40 51 04 00 AA 00 F0";
    const struct
    {
        std::string request, answer;
    } cases[] = {
        {"04 01 00 FF FF", "05 01 0100 0028 0200 0328 0300 192A 0400 0229 0500 0328"},
        {"04 12 00 13 00", "05 02 1200" + custom}, // a 128-bit type first: only that pair
        {"04 00 00 FF FF", "01 04 00 00 01"},
        {"04 05 00 04 00", "01 04 05 00 01"},
        {"06 01 00 FF FF 00 28 0F 18", "07 0100 0600"},
        {"06 01 00 FF FF 00 28" + custom, "07 1000 1500"},
        {"10 01 00 FF FF 00 28", "11 06 0100 0600 0F18"}, // the 128-bit service ends the response
        {"10 10 00 FF FF 00 28", "11 14 1000 1500" + custom},
        {"08 01 00 FF FF 03 28", "09 07 0200 12 0300 192A 0500 02 0600 192A"},
        {"08 20 00 FF FF 03 28", "09 07 2100 02 2200 212A 2300 02 2400 232A 2500 02 2600 252A"},
        {"08 01 00 FF FF 02 28", "01 08 01 00 0A"},
        {"08 01 00 FF FF 19 2A", "09 04 0300 1122 0600 1122"},
        {"08 01 00 FF FF 19", "01 08 01 00 04"},
        {"0A 01 00", "0B 0F18"},
        {"0A 99 00", "01 0A 99 00 01"},
        {"0A 14 00", "01 0A 14 00 05"}, // refused by the device
        {"12 14 00 01", "01 12 14 00 05"},
        {"52 14 00 01", ""},
        {"10 01 00 FF FF 01 28", "01 10 01 00 0A"}, // secondary services: none
        {"10 01 00 FF FF 03 28", "01 10 01 00 10"}, // not a group type
        {"08 13 00 FF FF 00 2A", "01 08 14 00 05"},
        {"0E 03 00 06 00", "01 0E 00 00 06"},
        {"12 02 00 01", "01 12 02 00 03"},
        {"12 03 00 01", "13"},
        {"52 99 00 01", ""},
        {"16 03 00 F4 01" + std::string(26, '0'), "01 16 03 00 0D"}, // offset 500, 13 bytes
        {"16 03 00 F4 01" + std::string(24, '0'), "17 03 00 F4 01" + std::string(24, '0')},
        {"1E", ""},
        // What Android's own server and client send: only an indication is answered.
        {"1B 03 00 01", ""},
        {"23 03 00 01 00 01", ""},
        {"1D 03 00 01", "1E"},
        {"0B 01", ""},
        {"01 0A 03 00 0A", ""},
        // Writes longer than the MTU (23 bytes here) or 512 bytes reach nothing.
        {"12 06 00" + Ee(21), "01 12 06 00 0D"},
        {"52 06 00" + Ee(21), ""},
        {"16 03 00 00 00" + Ee(19), "01 16 03 00 0D"},
        {"12 06 00" + std::string(40, '0'), "13"},
        {"02 58 02", "03 05 02"}, // from here the MTU is 517
        {"12 06 00" + Ee(513), "01 12 06 00 0D"},
        {"52 06 00" + Ee(513), ""},
        {"12 06 00" + std::string(1024, '0'), "13"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Ask(c.request), Hex(c.answer)) << c.request;
    for (const auto& [handle, value] : device.writes)
        EXPECT_EQ(std::ranges::count(value, 0xEE), 0) << "an over-long write reached the device";
}

TEST_F(AttServerTest, LongReadsAskTheDeviceForEveryPartAndFailuresAreAnswered)
{
    Bytes value(30);
    for (std::size_t i = 0; i < value.size(); ++i)
        value[i] = static_cast<std::uint8_t>(i);
    device.answers[0x0003] = {0, value, {}};
    EXPECT_EQ(Ask("0A 03 00"), Hex("0B 000102030405060708090A0B0C0D0E0F101112131415"));
    EXPECT_EQ(Ask("0C 03 00 16 00"), Hex("0D 161718191A1B1C1D"));
    EXPECT_EQ(Ask("0C 03 00 1E 00"), Hex("0D"));
    EXPECT_EQ(Ask("0C 03 00 1F 00"), Hex("01 0C 03 00 07"));

    // Read By Type stops after a value cut to 253 bytes.
    device.answers[0x0003] = device.answers[0x0006] = {0, Bytes(300, 0xAB), {}};
    Ask("02 05 02");
    Bytes answer = Ask("08 01 00 FF FF 19 2A");
    ASSERT_EQ(answer.size(), 2u + 255u);
    EXPECT_EQ(answer[1], 255);

    // A Windows failure is Unlikely Error at handle 0x0000, its text handed on for the log.
    device.answers[0x0006] = {0, {}, "0x80004005 unspecified"};
    sent.clear();
    EXPECT_EQ(server.HandlePdu(Hex("0A 06 00")).error(), "0x80004005 unspecified");
    EXPECT_EQ(sent, std::vector<Bytes>{Hex("01 0A 00 00 0E")});
}

TEST_F(AttServerTest, ClientConfigurationWritesSubscribe)
{
    for (auto [value, configured] : {std::pair{"01 00", "1n"},
                                     {"02 00", "2i"},
                                     {"03 00", "2i"},
                                     {"00 00", "0-"},
                                     {"01", "0-"},
                                     {"04 00", "0-"}})
    {
        device.configured.clear();
        EXPECT_EQ(Ask("12 04 00 " + std::string(value)), Hex("13")) << value;
        EXPECT_EQ(device.configured, configured) << value;
    }
    EXPECT_TRUE(device.writes.empty());
}

TEST_F(AttServerTest, ExecuteWriteAssemblesFragmentsAndStopsAtAFailure)
{
    Ask("16 03 00 04 00 CC DD");
    Ask("16 06 00 00 00 EE");
    Ask("16 03 00 00 00 AA BB");
    device.answers[0x0006] = {0x03, {}, {}};
    sent.clear();
    ASSERT_TRUE(server.HandlePdu(Hex("18 01")));
    EXPECT_EQ(device.writes, (std::vector<std::pair<std::uint16_t, Bytes>>{{0x0003, Hex("AABB0000CCDD")},
                                                                           {0x0006, Hex("EE")}}));
    EXPECT_EQ(sent, std::vector<Bytes>{Hex("01 18 06 00 03")});

    // Cancelling writes nothing and empties the budget: as many prepares fit again.
    int accepted = 0;
    while (Ask("16 03 00 00 00" + std::string(36, '0'))[0] == Att::PrepareWriteResponse)
        ++accepted;
    EXPECT_EQ(accepted, 65536 / (23 + 59));
    EXPECT_EQ(Ask("18 00"), Hex("19"));
    EXPECT_EQ(Ask("16 03 00 00 00" + std::string(36, '0'))[0], Att::PrepareWriteResponse);
    EXPECT_EQ(device.writes.size(), 2u);
}

TEST_F(AttServerTest, IndicationsWaitForConfirmationsAndNotificationsFitTheMtu)
{
    Ask("02 0A 00"); // an MTU of 10 is held to 23
    sent.clear();
    server.QueueNotification(0x0003, Bytes(40, 0x55), false);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], Hex("1B 0300" + std::string(40, '5')));
    sent.clear();
    for (std::uint8_t i = 0; i <= 70; ++i)
        server.QueueNotification(0x0003, Bytes{i}, true);
    EXPECT_EQ(sent, std::vector<Bytes>{Hex("1D 0300 00")});
    for (int i = 7; i <= 70; ++i)
        EXPECT_EQ(Ask("1E"), (Bytes{0x1D, 0x03, 0x00, static_cast<std::uint8_t>(i)}));
    EXPECT_EQ(Ask("1E"), Bytes{});
    server.QueueNotification(0x0003, Bytes{0x99}, true);
    EXPECT_EQ(sent.back(), Hex("1D 0300 99"));
}

} // namespace
