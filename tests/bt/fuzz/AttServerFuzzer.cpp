// Any table the mirror can build and any PDUs a client sends: every request gets exactly one
// answer that fits the MTU (its response or an Error Response for it), an indication its
// confirmation, commands, notifications and responses none; no over-long write reaches the device.
#include "bt/att/AttPdu.h"
#include "bt/att/AttServer.h"
#include "tests/support/FuzzCheck.h"

#include <cstdlib>

namespace
{

using namespace Pd::Bt;

using PdTest::Check;

// Answers by handle: some fail, some refuse, values of many lengths up to beyond 512 bytes.
struct HashedDevice : AttDevice
{
    DeviceAnswer Answer(std::uint16_t handle)
    {
        if (handle % 11 == 0)
            return {0, {}, "failed"};
        if (handle % 7 == 0)
            return {static_cast<std::uint8_t>(handle % 256), {}, {}};
        return {0, Bytes((handle * 37u) % 600u, static_cast<std::uint8_t>(handle)), {}};
    }
    DeviceAnswer Read(const AttributeEntry& entry) override { return Answer(entry.handle); }
    // A single write fits the MTU and a value the longest attribute (an executed one only the latter).
    DeviceAnswer Write(const AttributeEntry& entry, ByteView value, bool) override
    {
        Check(value.size() <= 512);
        Check(executing || value.size() + 3 <= mtu);
        return Answer(entry.handle);
    }
    DeviceAnswer WriteClientConfiguration(const AttributeEntry& entry, ClientConfiguration) override
    {
        return Answer(entry.handle);
    }
    DeviceAnswer Subscribe(const AttributeEntry&, bool, bool) override { return {}; }

    std::uint16_t mtu = 23;
    bool executing = false;
};

// Listings from 4-byte records as the database fuzzer reads them: what, a choice, the handle.
std::vector<ServiceListing> Listings(ByteView records)
{
    std::vector<ServiceListing> services;
    for (std::size_t at = 0; at + 4 <= records.size(); at += 4)
    {
        std::uint8_t what = records[at] % 3, choice = records[at + 1];
        std::uint16_t handle = static_cast<std::uint16_t>(records[at + 2] | records[at + 3] << 8);
        Uuid uuid = choice & 1 ? Uuid16(static_cast<std::uint16_t>(0x2A00 + (choice >> 5)))
                               : UuidFromGuidFields(0xF000AA00, choice >> 5, 0x4000, {});
        if (choice % 16 == 2)
            uuid = Uuid16(ClientConfigurationUuid);
        if (what == 0 || services.empty())
            services.push_back({handle, choice & 2 ? Uuid16(0x180F) : uuid, {}});
        else if (what == 1 || services.back().characteristics.empty())
            services.back().characteristics.push_back({handle, uuid, choice, {}});
        else
            services.back().characteristics.back().descriptors.push_back({handle, uuid});
    }
    return services;
}

// A CCCD the mirror added takes a handle no other attribute has.
void CheckAddedClientConfigurations(const GattDatabase& database)
{
    const auto& table = database.table;
    for (std::size_t i = 0; i < table.size(); ++i)
    {
        const AttributeEntry& entry = table[i];
        if (entry.kind != AttributeKind::Descriptor || database.services[entry.service]
                                                           .characteristics[entry.characteristic]
                                                           .descriptors[entry.descriptor]
                                                           .source)
            continue;
        Check(i == 0 || table[i - 1].handle != entry.handle);
        Check(i + 1 == table.size() || table[i + 1].handle != entry.handle);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Input: a record count byte, that many 4-byte records, then PDUs, each one length byte and
    // that many bytes; a length byte with its top bit set is a value change from the device.
    ByteView input(data, size);
    if (input.empty())
        return 0;
    std::size_t records = std::min<std::size_t>(input[0] % 16 * 4, input.size() - 1);
    GattDatabase database = BuildGattDatabase(Listings(input.subspan(1, records)));
    input = input.subspan(1 + records);
    CheckAddedClientConfigurations(database);

    HashedDevice device;
    std::vector<Bytes> sent;
    AttServer server(database, device, [&](Bytes pdu) { sent.push_back(std::move(pdu)); });
    while (!input.empty())
    {
        std::size_t length = std::min<std::size_t>(input[0] & 0x7F, input.size() - 1);
        ByteView pdu = input.subspan(1, length);
        const bool valueChange = (input[0] & 0x80) != 0;
        input = input.subspan(1 + length);
        sent.clear();
        if (valueChange)
        {
            if (pdu.size() >= 2)
                server.QueueNotification(ReadLe16(pdu, 0), pdu.subspan(2), pdu.size() % 2 == 1);
            Check(sent.size() <= 1 && (sent.empty() || sent[0].size() <= server.Mtu()));
            continue;
        }
        device.mtu = server.Mtu();
        device.executing = !pdu.empty() && pdu[0] == Att::ExecuteWriteRequest;
        (void)server.HandlePdu(pdu);
        if (!pdu.empty() && pdu[0] == Att::HandleValueConfirmation)
        {
            Check(sent.size() <= 1 && (sent.empty() || sent[0][0] == Att::HandleValueIndication));
            continue;
        }
        if (!pdu.empty() && pdu[0] == Att::HandleValueIndication)
        {
            Check(sent == std::vector<Bytes>{Bytes{Att::HandleValueConfirmation}});
            continue;
        }
        if (pdu.empty() || !Att::IsRequest(pdu[0]))
        {
            Check(sent.empty());
            continue;
        }
        Check(sent.size() == 1);
        const Bytes& answer = sent[0];
        Check(answer.size() <= server.Mtu());
        if (answer[0] == Att::ErrorResponse)
            Check(answer.size() == 5 && answer[1] == pdu[0] && answer[4] != 0);
        else
            Check(answer[0] == pdu[0] + 1);
    }
    return 0;
}
