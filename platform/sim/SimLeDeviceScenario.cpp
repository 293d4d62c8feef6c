#include "platform/sim/SimLeDeviceScenario.h"

#include "platform/Guid.h"
#include "platform/sim/ScenarioReaders.h"

#include <algorithm>

namespace Pd::Platform::Sim
{
namespace
{

// "180F" (a 16-bit UUID on the Bluetooth base) or "0000180F-0000-1000-8000-00805F9B34FB".
Pd::Result<GUID> ReadUuid(const Json::Value& object)
{
    std::wstring text;
    if (auto read = ReadText(object, L"uuid", text); !read)
        return std::unexpected(read.error());
    if (text.size() == 4)
        text = L"0000" + text + L"-0000-1000-8000-00805F9B34FB";
    std::optional<GUID> guid = ParseGuid(L"{" + text + L"}");
    if (!guid)
        return Wrong(L"uuid", L"4 hexadecimal digits or a GUID");
    return *guid;
}

// Handles as a GATT server numbers them: an attribute without "handle" takes `next`; `next`
// then moves past the attribute and the `following` handles that belong to it.
Pd::Result<std::uint16_t> ReadHandle(const Json::Value& object, std::uint32_t& next, std::uint32_t following)
{
    std::uint32_t handle = next;
    if (auto read = ReadNumber(object, L"handle", handle); !read)
        return std::unexpected(read.error());
    if (handle == 0 || handle > 0xFFFF)
        return Wrong(L"handle", L"a handle from 1 to 65535");
    next = handle + 1 + following;
    return static_cast<std::uint16_t>(handle);
}

// The handle and UUID every attribute of the GATT database has.
Pd::Result<> ReadAttribute(const Json::Value& entry, std::uint32_t& next, std::uint32_t following,
                           std::uint16_t& handle, GUID& uuid)
{
    auto readHandle = ReadHandle(entry, next, following);
    if (!readHandle)
        return std::unexpected(readHandle.error());
    auto readUuid = ReadUuid(entry);
    if (!readUuid)
        return std::unexpected(readUuid.error());
    handle = *readHandle;
    uuid = *readUuid;
    return {};
}

template <typename T, typename Read>
Pd::Result<> ReadList(const Json::Value& object, std::wstring_view name, std::uint32_t& next,
                      std::vector<T>& target, Read read)
{
    const Json::Value& list = object.Member(name);
    if (list.kind != Json::Kind::Null && list.kind != Json::Kind::Array)
        return Wrong(name, L"an array of objects");
    return ReadEach(list, target, [&](const Json::Value& entry) -> Pd::Result<T> {
        if (entry.kind != Json::Kind::Object)
            return Wrong(name, L"an array of objects");
        return read(entry, next);
    });
}

Pd::Result<ScenarioGattDescriptor> ReadGattDescriptor(const Json::Value& entry, std::uint32_t& next)
{
    ScenarioGattDescriptor descriptor;
    Pd::Result<> read;
    if (!(read = ReadAttribute(entry, next, 0, descriptor.handle, descriptor.uuid)) ||
        !(read = ReadHexBytes(entry, L"value", descriptor.value)))
        return std::unexpected(read.error());
    return descriptor;
}

// "<kind>Status" and "<kind>Error": how one kind of operation ends.
Pd::Result<> ReadGattAnswer(const Json::Value& entry, std::wstring_view kind, ScenarioGattAnswer& target)
{
    std::wstring status = std::wstring(kind) + L"Status", error = std::wstring(kind) + L"Error";
    std::int32_t code = -1;
    if (auto read = ReadSigned(entry, status, 0, 255, target.status); !read)
        return read;
    if (auto read = ReadSigned(entry, error, 0, 255, code); !read)
        return read;
    if (code >= 0)
        target.protocolError = static_cast<std::uint8_t>(code);
    return {};
}

Pd::Result<> ReadChanges(const Json::Value& entry, ScenarioGattCharacteristic& target)
{
    const Json::Value& list = entry.Member(L"changes");
    if (list.kind != Json::Kind::Null && list.kind != Json::Kind::Array)
        return Wrong(L"changes", L"an array of hexadecimal texts");
    for (const Json::Value& item : list.Items())
    {
        if (item.kind != Json::Kind::String)
            return Wrong(L"changes", L"an array of hexadecimal texts");
        auto bytes = HexBytes(item.text, L"changes");
        if (!bytes)
            return std::unexpected(bytes.error());
        target.changes.push_back(std::move(*bytes));
    }
    if (auto read = ReadNumber(entry, L"changeEveryMs", target.changeEveryMs); !read)
        return read;
    if (target.changeEveryMs == 0)
        return Wrong(L"changeEveryMs", L"at least 1");
    return {};
}

Pd::Result<ScenarioGattCharacteristic> ReadGattCharacteristic(const Json::Value& entry, std::uint32_t& next)
{
    ScenarioGattCharacteristic characteristic;
    Pd::Result<> read;
    if (!(read = ReadAttribute(entry, next, 1, characteristic.handle, characteristic.uuid)) ||
        !(read = ReadNumber(entry, L"properties", characteristic.properties)) ||
        !(read = ReadSigned(entry, L"status", 0, 255, characteristic.status)) ||
        !(read = ReadList(entry, L"descriptors", next, characteristic.descriptors, ReadGattDescriptor)) ||
        !(read = ReadHexBytes(entry, L"value", characteristic.value)) ||
        !(read = ReadGattAnswer(entry, L"read", characteristic.read)) ||
        !(read = ReadGattAnswer(entry, L"write", characteristic.write)) ||
        !(read = ReadChanges(entry, characteristic)))
        return std::unexpected(read.error());
    return characteristic;
}

Pd::Result<ScenarioGattService> ReadGattService(const Json::Value& entry, std::uint32_t& next)
{
    ScenarioGattService service;
    Pd::Result<> read;
    if (!(read = ReadAttribute(entry, next, 0, service.handle, service.uuid)) ||
        !(read = ReadSigned(entry, L"status", 0, 255, service.status)) ||
        !(read = ReadList(entry, L"characteristics", next, service.characteristics, ReadGattCharacteristic)))
        return std::unexpected(read.error());
    return service;
}

Pd::Result<> ReadPairing(const Json::Value& pairing, ScenarioLeDevice& device)
{
    if (pairing.kind == Json::Kind::Null)
        return {};
    if (pairing.kind != Json::Kind::Object)
        return Wrong(L"pairing", L"an object");
    Pd::Result<> read;
    if (!(read = ReadBool(pairing, L"paired", device.paired)) ||
        !(read = ReadBool(pairing, L"canPair", device.canPair)) ||
        !(read = ReadSigned(pairing, L"result", 0, 255, device.pairingResult)) ||
        !(read = ReadNumber(pairing, L"ms", device.pairingMs)))
        return read;
    return {};
}

Pd::Result<ScenarioLeDevice> ReadLeDevice(const Json::Value& entry, std::uint32_t&)
{
    ScenarioLeDevice device;
    std::wstring error;
    std::uint32_t next = 1;
    Pd::Result<> read;
    if (!(read = ReadBluetoothAddress(entry, L"address", device.address)) ||
        !(read = ReadBool(entry, L"random", device.random)) ||
        !(read = ReadText(entry, L"name", device.name)) ||
        !(read = ReadSigned(entry, L"servicesStatus", 0, 255, device.servicesStatus)) ||
        !(read = ReadText(entry, L"servicesError", error)) ||
        !(read = ReadList(entry, L"services", next, device.services, ReadGattService)) ||
        !(read = ReadNumber(entry, L"operationMs", device.operationMs)) ||
        !(read = ReadNumber(entry, L"disconnectAfterMs", device.disconnectAfterMs)) ||
        !(read = ReadPairing(entry.Member(L"pairing"), device)))
        return std::unexpected(read.error());
    const Json::Value& hangs = entry.Member(L"hangs");
    if (hangs.kind != Json::Kind::Null && hangs.kind != Json::Kind::Array)
        return Wrong(L"hangs", L"an array of operation names");
    for (const Json::Value& item : hangs.Items())
    {
        static constexpr std::wstring_view Known[] = {L"open",  L"session",   L"discover", L"read",
                                                      L"write", L"configure", L"pair"};
        if (item.kind != Json::Kind::String ||
            std::find(std::begin(Known), std::end(Known), item.text) == std::end(Known))
            return Wrong(L"hangs", L"names among open, session, discover, read, write, configure and pair");
        device.hangs.push_back(item.text);
    }
    if (!error.empty())
    {
        std::optional<std::uint32_t> code = ParseHexPort(error);
        if (!code || *code == 0)
            return Wrong(L"servicesError", L"a failure HRESULT");
        device.servicesError = static_cast<HRESULT>(*code);
    }
    return device;
}

} // namespace

Pd::Result<> ReadLeDevices(const Json::Value& bluetooth, std::vector<ScenarioLeDevice>& target)
{
    std::uint32_t unused = 0;
    return ReadList(bluetooth, L"devices", unused, target, ReadLeDevice);
}

} // namespace Pd::Platform::Sim
