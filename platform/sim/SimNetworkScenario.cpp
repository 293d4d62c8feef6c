#include "platform/sim/SimNetworkScenario.h"

#include "platform/sim/ScenarioReaders.h"

namespace Pd::Platform::Sim
{

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

Pd::Result<> ReadShell(const Json::Value& shell, ScenarioShell& target)
{
    if (shell.kind != Json::Kind::Null && shell.kind != Json::Kind::Object)
        return Wrong(L"shell", L"an object");
    Pd::Result<> read;
    if (!(read = ReadBool(shell, L"opensPages", target.opensPages)) ||
        !(read = ReadTexts(shell, L"schemes", target.schemes)))
        return read;
    return {};
}

} // namespace Pd::Platform::Sim
