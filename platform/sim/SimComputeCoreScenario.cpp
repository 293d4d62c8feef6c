#include "platform/sim/SimComputeCoreScenario.h"

#include "platform/Account.h"
#include "platform/Guid.h"
#include "platform/sim/ScenarioReaders.h"

namespace Pd::Platform::Sim
{
namespace
{

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

Pd::Result<> ReadComputeSystems(const Json::Value& list, std::vector<ScenarioComputeSystem>& target)
{
    return ReadEach(list, target, ReadComputeSystem);
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

} // namespace Pd::Platform::Sim
