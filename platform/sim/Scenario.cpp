#include "platform/sim/Scenario.h"

#include "core/Hex.h"
#include "platform/Account.h"
#include "platform/Guid.h"
#include "platform/sim/Simulation.h"

#include <fmt/xchar.h>

#include <algorithm>
#include <limits>

namespace Pd::Platform::Sim
{
namespace
{

std::unexpected<std::wstring> Wrong(std::wstring_view where, std::wstring_view expected)
{
    return Pd::Fail(L"scenario.json: \"" + std::wstring(where) + L"\" must be " + std::wstring(expected));
}

// Readers of optional members: absent (or null) leaves the target as it is.
Pd::Result<> ReadText(const Json::Value& object, std::wstring_view name, std::wstring& target)
{
    const Json::Value& value = object.Member(name);
    if (value.kind == Json::Kind::Null)
        return {};
    if (value.kind != Json::Kind::String)
        return Wrong(name, L"a text");
    target = value.text;
    return {};
}

Pd::Result<> ReadBool(const Json::Value& object, std::wstring_view name, bool& target)
{
    const Json::Value& value = object.Member(name);
    if (value.kind == Json::Kind::Null)
        return {};
    if (!value.AsBool())
        return Wrong(name, L"true or false");
    target = *value.AsBool();
    return {};
}

template <typename T> Pd::Result<> ReadNumber(const Json::Value& object, std::wstring_view name, T& target)
{
    const Json::Value& value = object.Member(name);
    if (value.kind == Json::Kind::Null)
        return {};
    std::optional<std::uint64_t> number = value.AsUInt64();
    if (!number || *number > std::numeric_limits<T>::max())
        return Wrong(name, L"a whole number in range");
    target = static_cast<T>(*number);
    return {};
}

Pd::Result<TerminateMode> ReadTerminateMode(const Json::Value& object)
{
    std::wstring mode = L"works";
    if (auto read = ReadText(object, L"terminate", mode); !read)
        return std::unexpected(read.error());
    if (mode == L"works")
        return TerminateMode::Works;
    if (mode == L"refused")
        return TerminateMode::Refused;
    if (mode == L"fails")
        return TerminateMode::Fails;
    if (mode == L"ignored")
        return TerminateMode::Ignored;
    if (mode == L"endedFirst")
        return TerminateMode::EndedFirst;
    return Wrong(L"terminate", L"works, refused, fails, ignored or endedFirst");
}

Pd::Result<> ReadServices(const Json::Value& services, std::map<std::uint32_t, std::uint16_t>& target);

Pd::Result<ScenarioComputeSystem> ReadComputeSystem(const Json::Value& entry)
{
    if (entry.kind != Json::Kind::Object)
        return Wrong(L"computeSystems", L"an array of objects");
    ScenarioComputeSystem system;
    std::uint64_t exitAfterMs = 0;
    bool hasExit = entry.Member(L"exitAfterMs").kind != Json::Kind::Null;
    Pd::Result<> read;
    if (!(read = ReadText(entry, L"id", system.id)) || !(read = ReadText(entry, L"owner", system.owner)) ||
        !(read = ReadText(entry, L"systemType", system.systemType)) ||
        !(read = ReadText(entry, L"state", system.state)) ||
        !(read = ReadNumber(entry, L"exitAfterMs", exitAfterMs)) ||
        !(read = ReadBool(entry, L"shutdown", system.shutdown)) ||
        !(read = ReadNumber(entry, L"shutdownDelayMs", system.shutdownDelayMs)) ||
        !(read = ReadText(entry, L"account", system.account)))
        return std::unexpected(read.error());
    if (entry.Member(L"services").kind != Json::Kind::Null)
        if (!(read = ReadServices(entry.Member(L"services"), system.services.emplace())))
            return std::unexpected(read.error());
    if (hasExit)
        system.exitAfterMs = exitAfterMs;
    auto mode = ReadTerminateMode(entry);
    if (!mode)
        return std::unexpected(mode.error());
    system.terminate = *mode;
    return system;
}

// "544B4254" or "0x544B4254".
std::optional<std::uint32_t> ParseHexPort(std::wstring_view text)
{
    if (text.starts_with(L"0x") || text.starts_with(L"0X"))
        text.remove_prefix(2);
    if (text.empty() || text.size() > 8)
        return std::nullopt;
    std::uint32_t value = 0;
    for (wchar_t c : text)
    {
        int digit = Core::HexValue(c);
        if (digit < 0)
            return std::nullopt;
        value = value << 4 | static_cast<std::uint32_t>(digit);
    }
    return value;
}

Pd::Result<> ReadServices(const Json::Value& services, std::map<std::uint32_t, std::uint16_t>& target)
{
    if (services.kind == Json::Kind::Null)
        return {};
    if (services.kind != Json::Kind::Object)
        return Wrong(L"services", L"an object of vsock ports");
    for (const auto& [key, value] : *services.members)
    {
        std::optional<std::uint32_t> port = ParseHexPort(key);
        std::optional<std::uint64_t> tcpPort = value.AsUInt64();
        if (!port)
            return Wrong(L"services", L"keyed by hexadecimal vsock ports");
        if (!tcpPort || *tcpPort == 0 || *tcpPort > 65535)
            return Wrong(L"services", L"a map to TCP ports 1 to 65535");
        target[*port] = static_cast<std::uint16_t>(*tcpPort);
    }
    return {};
}

// "1.2.3.4": four decimal parts, each up to 65535.
bool ParseVersion(std::wstring_view text, std::uint16_t (&parts)[4])
{
    for (int i = 0; i < 4; ++i)
    {
        size_t end = i < 3 ? text.find(L'.') : text.size();
        if (end == std::wstring_view::npos || end == 0 || end > 5)
            return false;
        std::uint32_t value = 0;
        for (wchar_t c : text.substr(0, end))
        {
            if (c < L'0' || c > L'9')
                return false;
            value = value * 10 + (c - L'0');
        }
        if (value > 65535)
            return false;
        parts[i] = static_cast<std::uint16_t>(value);
        text.remove_prefix(i < 3 ? end + 1 : end);
    }
    return true;
}

} // namespace

Pd::Result<ScenarioPackage> ParsePackage(const Json::Value& entry)
{
    if (entry.kind != Json::Kind::Object)
        return Wrong(L"packages", L"an array of objects");
    ScenarioPackage package;
    std::wstring version = L"1.0.0.0";
    std::wstring location;
    Pd::Result<> read;
    if (!(read = ReadText(entry, L"name", package.name)) ||
        !(read = ReadText(entry, L"publisherId", package.publisherId)) ||
        !(read = ReadText(entry, L"version", version)) ||
        !(read = ReadText(entry, L"architecture", package.architecture)) ||
        !(read = ReadBool(entry, L"developmentMode", package.developmentMode)) ||
        !(read = ReadBool(entry, L"keepsRegistration", package.keepsRegistration)))
        return std::unexpected(read.error());
    if (!ParseVersion(version, package.version))
        return Wrong(L"version", L"four decimal numbers up to 65535, such as 1.2.3.4");
    if (entry.Member(L"installLocation").kind != Json::Kind::Null)
    {
        if (!(read = ReadText(entry, L"installLocation", location)))
            return std::unexpected(read.error());
        package.installLocation = location;
    }
    for (const Json::Value& user : entry.Member(L"users").Items())
    {
        if (user.kind != Json::Kind::String)
            return Wrong(L"users", L"an array of texts");
        package.users.push_back(user.text);
    }
    return package;
}

Json::Value PackageJson(const ScenarioPackage& package)
{
    Json::Value entry = Json::Value::MakeObject();
    auto& members = *entry.members;
    members[L"name"] = Json::Value::MakeString(package.name);
    members[L"publisherId"] = Json::Value::MakeString(package.publisherId);
    members[L"version"] = Json::Value::MakeString(fmt::format(
        L"{}.{}.{}.{}", package.version[0], package.version[1], package.version[2], package.version[3]));
    members[L"architecture"] = Json::Value::MakeString(package.architecture);
    if (package.installLocation)
        members[L"installLocation"] = Json::Value::MakeString(*package.installLocation);
    members[L"developmentMode"] = Json::Value::MakeBool(package.developmentMode);
    members[L"keepsRegistration"] = Json::Value::MakeBool(package.keepsRegistration);
    Json::Value users = Json::Value::MakeArray();
    for (const std::wstring& user : package.users)
        users.items->push_back(Json::Value::MakeString(user));
    members[L"users"] = std::move(users);
    return entry;
}

namespace
{

// "0x80073CF6" or the number itself.
Pd::Result<> ReadDeploymentFailures(const Json::Value& failures, std::map<std::wstring, HRESULT>& target)
{
    if (failures.kind == Json::Kind::Null)
        return {};
    if (failures.kind != Json::Kind::Object)
        return Wrong(L"deploymentFailures", L"an object");
    for (const auto& [operation, value] : *failures.members)
    {
        if (operation != L"add" && operation != L"register" && operation != L"remove")
            return Wrong(L"deploymentFailures", L"keyed by add, register or remove");
        std::optional<std::uint32_t> code;
        if (value.kind == Json::Kind::String)
            code = ParseHexPort(value.text);
        else if (auto number = value.AsUInt64(); number && *number <= 0xFFFFFFFFu)
            code = static_cast<std::uint32_t>(*number);
        if (!code || *code < 0x80000000u)
            return Wrong(L"deploymentFailures", L"a map to failure HRESULTs");
        target[operation] = static_cast<HRESULT>(*code);
    }
    return {};
}

Pd::Result<> ReadTextMap(const Json::Value& object, std::wstring_view name,
                         std::map<std::wstring, std::wstring>& target)
{
    const Json::Value& map = object.Member(name);
    if (map.kind == Json::Kind::Null)
        return {};
    if (map.kind != Json::Kind::Object)
        return Wrong(name, L"an object of texts");
    for (const auto& [key, value] : *map.members)
    {
        if (value.kind != Json::Kind::String)
            return Wrong(name, L"an object of texts");
        target[key] = value.text;
    }
    return {};
}

Pd::Result<> ReadWindows(const Json::Value& windows, ScenarioWindows& target)
{
    Pd::Result<> read;
    if (!(read = ReadNumber(windows, L"build", target.build)) ||
        !(read = ReadNumber(windows, L"ubr", target.ubr)) ||
        !(read = ReadText(windows, L"productName", target.productName)) ||
        !(read = ReadText(windows, L"displayVersion", target.displayVersion)) ||
        !(read = ReadNumber(windows, L"dismExitCode", target.dismExitCode)))
        return read;
    if (windows.Member(L"virtualMachinePlatform").kind != Json::Kind::Null)
    {
        bool enabled = false;
        if (!(read = ReadBool(windows, L"virtualMachinePlatform", enabled)))
            return read;
        target.virtualMachinePlatform = enabled;
    }
    return {};
}

// "001A7DDA7113": a Bluetooth address as 12 hexadecimal digits; absent or empty leaves 0.
Pd::Result<> ReadBluetoothAddress(const Json::Value& object, std::wstring_view name, std::uint64_t& target)
{
    std::wstring text;
    if (auto read = ReadText(object, name, text); !read)
        return read;
    if (text.empty())
        return {};
    if (text.size() != 12)
        return Wrong(name, L"a Bluetooth address of 12 hexadecimal digits");
    std::uint64_t address = 0;
    for (wchar_t c : text)
    {
        int digit = Core::HexValue(c);
        if (digit < 0)
            return Wrong(name, L"a Bluetooth address of 12 hexadecimal digits");
        address = address << 4 | static_cast<std::uint64_t>(digit);
    }
    target = address;
    return {};
}

// ---- LE advertisers ----

// A whole number that may be negative, within the bounds (which have at most 6 digits).
Pd::Result<> ReadSigned(const Json::Value& object, std::wstring_view name, std::int32_t low,
                        std::int32_t high, std::int32_t& target)
{
    const Json::Value& value = object.Member(name);
    if (value.kind == Json::Kind::Null)
        return {};
    std::wstring_view digits = value.kind == Json::Kind::Number ? std::wstring_view(value.text) : L"";
    bool negative = digits.starts_with(L'-');
    if (negative)
        digits.remove_prefix(1);
    bool valid = !digits.empty() && digits.size() <= 6;
    std::int32_t magnitude = 0;
    for (std::size_t i = 0; valid && i < digits.size(); ++i)
    {
        valid = digits[i] >= L'0' && digits[i] <= L'9';
        magnitude = magnitude * 10 + (digits[i] - L'0');
    }
    std::int32_t number = negative ? -magnitude : magnitude;
    if (!valid || number < low || number > high)
        return Wrong(name, fmt::format(L"a whole number from {} to {}", low, high));
    target = number;
    return {};
}

// Bytes written as pairs of hexadecimal digits.
Pd::Result<std::vector<std::uint8_t>> HexBytes(std::wstring_view hex, std::wstring_view name)
{
    if (hex.size() % 2 != 0)
        return Wrong(name, L"pairs of hexadecimal digits");
    std::vector<std::uint8_t> bytes;
    for (std::size_t at = 0; at < hex.size(); at += 2)
    {
        auto byte = ParseHexPort(hex.substr(at, 2));
        if (!byte)
            return Wrong(name, L"pairs of hexadecimal digits");
        bytes.push_back(static_cast<std::uint8_t>(*byte));
    }
    return bytes;
}

Pd::Result<> ReadHexBytes(const Json::Value& object, std::wstring_view name,
                          std::vector<std::uint8_t>& target)
{
    std::wstring hex;
    if (auto read = ReadText(object, name, hex); !read)
        return read;
    auto bytes = HexBytes(hex, name);
    if (!bytes)
        return std::unexpected(bytes.error());
    target = std::move(*bytes);
    return {};
}

// "0x80070005": a failure HRESULT; absent leaves none.
Pd::Result<> ReadHresult(const Json::Value& object, std::wstring_view name, std::optional<HRESULT>& target)
{
    const Json::Value& value = object.Member(name);
    if (value.kind == Json::Kind::Null)
        return {};
    if (value.kind != Json::Kind::String || !(target = ParseFailureHresult(value.text)))
        return Wrong(name, L"a failure HRESULT as 0x and 8 hex digits");
    return {};
}

Pd::Result<ScenarioSmsMessage> ReadSmsMessage(const Json::Value& entry)
{
    if (entry.kind != Json::Kind::Object)
        return Wrong(L"messages", L"an array of objects");
    ScenarioSmsMessage message;
    Pd::Result<> read;
    if (!(read = ReadSigned(entry, L"type", 0, 6, message.type)) ||
        !(read = ReadText(entry, L"from", message.from)) ||
        !(read = ReadText(entry, L"contentType", message.contentType)) ||
        !(read = ReadHexBytes(entry, L"hex", message.body)) ||
        !(read = ReadNumber(entry, L"timestamp", message.timestamp)) ||
        !(read = ReadNumber(entry, L"afterMs", message.afterMs)) ||
        !(read = ReadHresult(entry, L"readFails", message.readFails)))
        return std::unexpected(read.error());
    return message;
}

Pd::Result<> ReadSmsRouter(const Json::Value& router, ScenarioSmsRouter& target)
{
    if (router.kind == Json::Kind::Null)
        return {};
    if (router.kind != Json::Kind::Object)
        return Wrong(L"smsRouter", L"an object");
    target.present = true;
    if (auto read = ReadHresult(router, L"registerFails", target.registerFails); !read)
        return read;
    const Json::Value& registrations = router.Member(L"registrations");
    if (registrations.kind != Json::Kind::Null && registrations.kind != Json::Kind::Array)
        return Wrong(L"registrations", L"an array of texts");
    for (const Json::Value& id : registrations.Items())
    {
        if (id.kind != Json::Kind::String)
            return Wrong(L"registrations", L"an array of texts");
        target.registrations.push_back(id.text);
    }
    const Json::Value& messages = router.Member(L"messages");
    if (messages.kind != Json::Kind::Null && messages.kind != Json::Kind::Array)
        return Wrong(L"messages", L"an array of objects");
    for (const Json::Value& entry : messages.Items())
    {
        auto message = ReadSmsMessage(entry);
        if (!message)
            return std::unexpected(message.error());
        target.messages.push_back(std::move(*message));
    }
    return {};
}

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
    for (const Json::Value& item : entry.Member(L"sections").Items())
    {
        auto section = ReadSection(item);
        if (!section)
            return std::unexpected(section.error());
        advertiser.sections.push_back(std::move(*section));
    }
    return advertiser;
}

// ---- LE devices and their GATT databases ----

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
    for (const Json::Value& entry : list.Items())
    {
        if (entry.kind != Json::Kind::Object)
            return Wrong(name, L"an array of objects");
        auto item = read(entry, next);
        if (!item)
            return std::unexpected(item.error());
        target.push_back(std::move(*item));
    }
    return {};
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

Pd::Result<> ReadBluetooth(const Json::Value& bluetooth, ScenarioBluetooth& target)
{
    std::uint32_t unused = 0;
    if (auto read = ReadList(bluetooth, L"devices", unused, target.devices, ReadLeDevice); !read)
        return read;
    if (auto read = ReadBluetoothAddress(bluetooth, L"adapter", target.adapter); !read)
        return read;
    for (const Json::Value& entry : bluetooth.Member(L"advertisers").Items())
    {
        auto advertiser = ReadAdvertiser(entry);
        if (!advertiser)
            return std::unexpected(advertiser.error());
        target.advertisers.push_back(std::move(*advertiser));
    }
    return {};
}

// Windows Hello: each answer a whole number or "fails".
Pd::Result<> ReadHelloAnswer(const Json::Value& hello, std::wstring_view name, ScenarioHelloAnswer& target)
{
    const Json::Value& value = hello.Member(name);
    if (value.kind == Json::Kind::String && value.text == L"fails")
    {
        target.fails = true;
        return {};
    }
    if (value.kind != Json::Kind::Null && value.kind != Json::Kind::Number)
        return Wrong(name, L"a whole number or \"fails\"");
    return ReadNumber(hello, name, target.value);
}

Pd::Result<> ReadHello(const Json::Value& hello, ScenarioHello& target)
{
    if (hello.kind != Json::Kind::Null && hello.kind != Json::Kind::Object)
        return Wrong(L"hello", L"an object");
    if (hello.kind == Json::Kind::Null)
        return {};
    // A PC with a "hello" key has a working Windows Hello unless the key says otherwise.
    target = ScenarioHello{{0}, {0}, 0};
    Pd::Result<> read;
    if (!(read = ReadHelloAnswer(hello, L"availability", target.availability)) ||
        !(read = ReadHelloAnswer(hello, L"result", target.result)) ||
        !(read = ReadNumber(hello, L"promptMs", target.promptMs)) ||
        !(read = ReadNumber(hello, L"readers", target.readers)))
        return read;
    return {};
}

Pd::Result<> ReadNetwork(const Json::Value& network, ScenarioNetwork& target)
{
    if (network.kind == Json::Kind::Null)
        return {};
    if (network.kind != Json::Kind::Object)
        return Wrong(L"network", L"an object");
    target.present = true;
    std::wstring connectivity = L"internet";
    Pd::Result<> read;
    if (!(read = ReadText(network, L"connectivity", connectivity)) ||
        !(read = ReadNumber(network, L"changes", target.changes)))
        return read;
    static constexpr const wchar_t* Levels[] = {L"unknown",  L"none",        L"local",
                                                L"internet", L"constrained", L"hidden"};
    for (std::int32_t level = 0; level < 6; ++level)
        if (connectivity == Levels[level])
        {
            target.level = level;
            return {};
        }
    if (connectivity != L"fails")
        return Wrong(L"connectivity", L"unknown, none, local, internet, constrained, hidden or fails");
    target.fails = true;
    return {};
}

Pd::Result<> ReadCellular(const Json::Value& cellular, ScenarioCellular& target)
{
    if (cellular.kind == Json::Kind::Null)
        return {};
    if (cellular.kind != Json::Kind::Object)
        return Wrong(L"cellular", L"an object");
    target.present = true;
    Pd::Result<> read;
    if (!(read = ReadText(cellular, L"acquire", target.acquire)) ||
        !(read = ReadNumber(cellular, L"acquireMs", target.acquireMs)) ||
        !(read = ReadBool(cellular, L"closeFails", target.closeFails)))
        return read;
    const std::wstring& acquire = target.acquire;
    if (acquire != L"opens" && acquire != L"noSession" && acquire != L"noAdapter" && acquire != L"canceled" &&
        !(acquire.size() == 10 && acquire.starts_with(L"0x") &&
          acquire.find_first_not_of(L"0123456789abcdefABCDEF", 2) == std::wstring::npos))
        return Wrong(L"acquire",
                     L"opens, noSession, noAdapter, canceled or an HRESULT as 0x and 8 hex digits");
    std::wstring adapter = L"loopback";
    if (!(read = ReadText(cellular, L"adapter", adapter)))
        return read;
    if (adapter != L"loopback" && !(target.adapter = ParseGuid(adapter)))
        return Wrong(L"adapter", L"loopback or a GUID in braces");
    const Json::Value& names = cellular.Member(L"names");
    if (names.kind == Json::Kind::Null)
        return {};
    if (names.kind != Json::Kind::Object)
        return Wrong(L"names", L"an object of address lists");
    for (const auto& [host, addresses] : *names.members)
    {
        if (addresses.kind != Json::Kind::Array)
            return Wrong(L"names", L"an object of address lists");
        for (const Json::Value& address : addresses.Items())
        {
            if (address.kind != Json::Kind::String)
                return Wrong(L"names", L"an object of address lists");
            target.names[host].push_back(address.text);
        }
    }
    return {};
}

// A result that is one of two words or a failure HRESULT.
Pd::Result<> ReadOutcome(const Json::Value& object, std::wstring_view name, std::wstring_view first,
                         std::wstring_view second, std::wstring& target)
{
    if (auto read = ReadText(object, name, target); !read)
        return read;
    if (target != first && target != second && !ParseFailureHresult(target))
        return Wrong(name, fmt::format(L"{}, {} or a failure HRESULT", first, second));
    return {};
}

Pd::Result<> ReadModemRadio(const Json::Value& object, ScenarioModemRadio& target)
{
    Pd::Result<> read;
    if (!(read = ReadText(object, L"imei", target.imei)) ||
        !(read = ReadBool(object, L"simReady", target.simReady)) ||
        !(read = ReadText(object, L"iccid", target.iccid)) ||
        !(read = ReadText(object, L"imsi", target.imsi)) ||
        !(read = ReadNumber(object, L"registerState", target.registerState)) ||
        !(read = ReadText(object, L"providerId", target.providerId)) ||
        !(read = ReadText(object, L"providerName", target.providerName)) ||
        !(read = ReadNumber(object, L"dataClass", target.dataClass)) ||
        !(read = ReadNumber(object, L"signal", target.signal)) ||
        !(read = ReadText(object, L"serviceCentre", target.serviceCentre)) ||
        !(read = ReadBool(object, L"gone", target.gone)))
        return read;
    return {};
}

Pd::Result<> ReadModem(const Json::Value& modem, ScenarioModem& target)
{
    if (modem.kind == Json::Kind::Null)
        return {};
    if (modem.kind != Json::Kind::Object)
        return Wrong(L"modem", L"an object");
    target.present = true;
    Pd::Result<> read;
    if (!(read = ReadModemRadio(modem, target.radio)) ||
        !(read = ReadBool(modem, L"registration", target.registration)) ||
        !(read = ReadBool(modem, L"signalInterface", target.signalInterface)) ||
        !(read = ReadBool(modem, L"smsInterface", target.smsInterface)) ||
        !(read = ReadNumber(modem, L"capacity", target.capacity)) ||
        !(read = ReadHresult(modem, L"sendCall", target.sendCall)) ||
        !(read = ReadOutcome(modem, L"send", L"sent", L"silent", target.send)) ||
        !(read = ReadNumber(modem, L"sendMs", target.sendMs)) ||
        !(read = ReadHresult(modem, L"readCall", target.readCall)) ||
        !(read = ReadOutcome(modem, L"read", L"answers", L"silent", target.read)) ||
        !(read = ReadNumber(modem, L"readParts", target.readParts)) ||
        !(read = ReadHresult(modem, L"deleteStatus", target.deleteStatus)))
        return read;
    if (target.readParts == 0 || target.readParts > 16)
        return Wrong(L"readParts", L"1 to 16");
    ScenarioModemRadio radio = target.radio;
    for (const Json::Value& entry : modem.Member(L"changes").Items())
    {
        ScenarioModemChange change;
        if (entry.kind != Json::Kind::Object)
            return Wrong(L"changes", L"an array of objects");
        if (!(read = ReadNumber(entry, L"afterMs", change.afterMs)) || !(read = ReadModemRadio(entry, radio)))
            return read;
        change.radio = radio;
        target.changes.push_back(std::move(change));
    }
    for (const Json::Value& entry : modem.Member(L"store").Items())
    {
        ScenarioStoredSms message;
        if (entry.kind != Json::Kind::Object)
            return Wrong(L"store", L"an array of objects");
        if (!(read = ReadNumber(entry, L"index", message.index)) ||
            !(read = ReadNumber(entry, L"status", message.status)) ||
            !(read = ReadText(entry, L"pdu", message.pdu)))
            return read;
        target.store.push_back(std::move(message));
    }
    for (const Json::Value& entry : modem.Member(L"incoming").Items())
    {
        ScenarioIncomingSms message;
        if (entry.kind != Json::Kind::Object)
            return Wrong(L"incoming", L"an array of objects");
        if (!(read = ReadText(entry, L"pdu", message.pdu)) ||
            !(read = ReadBool(entry, L"class0", message.class0)))
            return read;
        target.incoming.push_back(std::move(message));
    }
    return {};
}

Pd::Result<> ReadTrust(const Json::Value& trust, ScenarioTrust& target)
{
    Pd::Result<> read;
    if (!(read = ReadText(trust, L"publisher", target.publisher)) ||
        !(read = ReadText(trust, L"rootPrefix", target.rootPrefix)))
        return read;
    const Json::Value& keys = trust.Member(L"rootKeys");
    if (keys.kind != Json::Kind::Null && keys.kind != Json::Kind::Array)
        return Wrong(L"rootKeys", L"an array of texts");
    for (const Json::Value& key : keys.Items())
    {
        if (key.kind != Json::Kind::String)
            return Wrong(L"rootKeys", L"an array of texts");
        target.rootKeys.push_back(key.text);
    }
    return {};
}

} // namespace

std::optional<GUID> ScenarioComputeSystem::Guid() const
{
    return ParseGuid(L"{" + id + L"}");
}

std::wstring ScenarioComputeSystem::ListedOwner() const
{
    if (account.empty())
        return owner;
    return owner + L" " + (account == L"current" ? ProcessUserSid() : account);
}

Pd::Result<Scenario> ParseScenario(const Json::Value& document)
{
    if (document.kind != Json::Kind::Object)
        return Pd::Fail(L"scenario.json: the document must be an object");
    Scenario scenario;
    if (auto read = ReadWindows(document.Member(L"windows"), scenario.windows); !read)
        return std::unexpected(read.error());
    for (const Json::Value& entry : document.Member(L"computeSystems").Items())
    {
        auto system = ReadComputeSystem(entry);
        if (!system)
            return std::unexpected(system.error());
        scenario.computeSystems.push_back(std::move(*system));
    }
    if (auto read = ReadServices(document.Member(L"services"), scenario.services); !read)
        return std::unexpected(read.error());
    for (const Json::Value& entry : document.Member(L"packages").Items())
    {
        auto package = ParsePackage(entry);
        if (!package)
            return std::unexpected(package.error());
        scenario.packages.push_back(std::move(*package));
    }
    if (document.Member(L"packageWalkFailsAfter").kind != Json::Kind::Null)
    {
        std::size_t failsAfter = 0;
        if (auto read = ReadNumber(document, L"packageWalkFailsAfter", failsAfter); !read)
            return std::unexpected(read.error());
        scenario.packageWalkFailsAfter = failsAfter;
    }
    if (auto read = ReadBluetooth(document.Member(L"bluetooth"), scenario.bluetooth); !read)
        return std::unexpected(read.error());
    if (auto read = ReadHello(document.Member(L"hello"), scenario.hello); !read)
        return std::unexpected(read.error());
    if (auto read = ReadCellular(document.Member(L"cellular"), scenario.cellular); !read)
        return std::unexpected(read.error());
    if (auto read = ReadModem(document.Member(L"modem"), scenario.modem); !read)
        return std::unexpected(read.error());
    if (auto read = ReadNetwork(document.Member(L"network"), scenario.network); !read)
        return std::unexpected(read.error());
    if (auto read = ReadSmsRouter(document.Member(L"smsRouter"), scenario.smsRouter); !read)
        return std::unexpected(read.error());
    const Json::Value& shell = document.Member(L"shell");
    if (shell.kind != Json::Kind::Null && shell.kind != Json::Kind::Object)
        return Wrong(L"shell", L"an object");
    if (auto read = ReadBool(shell, L"opensPages", scenario.opensWebPages); !read)
        return std::unexpected(read.error());
    if (shell.Member(L"schemes").kind != Json::Kind::Null)
    {
        if (shell.Member(L"schemes").kind != Json::Kind::Array)
            return Wrong(L"schemes", L"an array of texts");
        scenario.shellSchemes.clear();
        for (const Json::Value& scheme : shell.Member(L"schemes").Items())
        {
            if (scheme.kind != Json::Kind::String)
                return Wrong(L"schemes", L"an array of texts");
            scenario.shellSchemes.push_back(scheme.text);
        }
    }
    if (auto read = ReadTextMap(document, L"publisherIds", scenario.publisherIds); !read)
        return std::unexpected(read.error());
    if (auto read =
            ReadDeploymentFailures(document.Member(L"deploymentFailures"), scenario.deploymentFailures);
        !read)
        return std::unexpected(read.error());
    scenario.appSettings = document.Member(L"appSettings");
    if (scenario.appSettings.kind != Json::Kind::Null && scenario.appSettings.kind != Json::Kind::Object)
        return Wrong(L"appSettings", L"an object of package families");
    if (auto read = ReadTrust(document.Member(L"trust"), scenario.trust); !read)
        return std::unexpected(read.error());
    return scenario;
}

std::optional<HRESULT> ParseFailureHresult(std::wstring_view text)
{
    if (text.size() != 10 || !text.starts_with(L"0x"))
        return std::nullopt;
    std::optional<std::uint32_t> code = ParseHexPort(text);
    if (!code || *code < 0x80000000u)
        return std::nullopt;
    return static_cast<HRESULT>(*code);
}

Scenario LoadScenario(const std::filesystem::path& folder)
{
    auto document = ReadJsonFile(folder / L"scenario.json");
    if (!document)
    {
        ReportScenarioProblem(document.error());
        return {};
    }
    auto scenario = ParseScenario(*document);
    if (!scenario)
    {
        ReportScenarioProblem(scenario.error());
        return {};
    }
    return std::move(*scenario);
}

} // namespace Pd::Platform::Sim
