#include "platform/sim/SimAdvertisementWatcherScenario.h"

#include "platform/sim/ScenarioReaders.h"

namespace Pd::Platform::Sim
{
namespace
{

Pd::Result<AdvertisementSection> ReadSection(const Json::Value& entry)
{
    if (entry.kind != Json::Kind::Object)
        return Wrong(L"sections", L"an array of objects");
    AdvertisementSection section;
    Pd::Result<> read;
    if (!(read = ReadNumber(entry, L"type", section.type)) ||
        !(read = ReadHexBytes(entry, L"hex", section.data)))
        return std::unexpected(read.error());
    return section;
}

Pd::Result<ScenarioAdvertiser> ReadAdvertiser(const Json::Value& entry)
{
    if (entry.kind != Json::Kind::Object)
        return Wrong(L"advertisers", L"an array of objects");
    ScenarioAdvertiser advertiser;
    std::int32_t rssi = advertiser.rssi;
    Pd::Result<> read;
    if (!(read = ReadBluetoothAddress(entry, L"address", advertiser.address)) ||
        !(read = ReadBool(entry, L"random", advertiser.random)) ||
        !(read = ReadSigned(entry, L"type", 0, 255, advertiser.type)) ||
        !(read = ReadBool(entry, L"connectable", advertiser.connectable)) ||
        !(read = ReadBool(entry, L"scannable", advertiser.scannable)) ||
        !(read = ReadSigned(entry, L"rssi", -32768, 32767, rssi)) ||
        !(read = ReadNumber(entry, L"everyMs", advertiser.everyMs)))
        return std::unexpected(read.error());
    if (advertiser.everyMs == 0)
        return Wrong(L"everyMs", L"at least 1");
    advertiser.rssi = static_cast<std::int16_t>(rssi);
    if (!(read = ReadEach(entry.Member(L"sections"), advertiser.sections, ReadSection)))
        return std::unexpected(read.error());
    return advertiser;
}

} // namespace

Pd::Result<> ReadAdvertisers(const Json::Value& bluetooth, std::vector<ScenarioAdvertiser>& target)
{
    return ReadEach(bluetooth.Member(L"advertisers"), target, ReadAdvertiser);
}

} // namespace Pd::Platform::Sim
