#include "platform/sim/SimPackageManagerScenario.h"

#include "platform/sim/ScenarioReaders.h"

#include <fmt/xchar.h>

namespace Pd::Platform::Sim
{
namespace
{

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

Pd::Result<> ReadPackages(const Json::Value& list, std::vector<ScenarioPackage>& target)
{
    return ReadEach(list, target, ParsePackage);
}

Pd::Result<> ReadPackageWalkFailsAfter(const Json::Value& failsAfter, std::optional<std::size_t>& target)
{
    if (failsAfter.kind == Json::Kind::Null)
        return {};
    std::size_t count = 0;
    if (auto read = ReadWholeNumber(failsAfter, L"packageWalkFailsAfter", count); !read)
        return read;
    target = count;
    return {};
}

Pd::Result<> ReadPublisherIds(const Json::Value& ids, std::map<std::wstring, std::wstring>& target)
{
    if (ids.kind == Json::Kind::Null)
        return {};
    if (ids.kind != Json::Kind::Object)
        return Wrong(L"publisherIds", L"an object of texts");
    for (const auto& [publisher, id] : *ids.members)
    {
        if (id.kind != Json::Kind::String)
            return Wrong(L"publisherIds", L"an object of texts");
        target[publisher] = id.text;
    }
    return {};
}

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

Pd::Result<> ReadAppSettings(const Json::Value& settings, Json::Value& target)
{
    if (settings.kind != Json::Kind::Null && settings.kind != Json::Kind::Object)
        return Wrong(L"appSettings", L"an object of package families");
    target = settings;
    return {};
}

} // namespace Pd::Platform::Sim
