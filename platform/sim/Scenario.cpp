#include "platform/sim/Scenario.h"

#include "platform/sim/Simulation.h"

#include <string_view>

namespace Pd::Platform::Sim
{
namespace
{

using KeyReader = Pd::Result<> (*)(const Json::Value& value, Scenario& scenario);

// Reads a top-level key's value into its member of the scenario with its section's reader.
template <auto Member, auto Read> Pd::Result<> Into(const Json::Value& value, Scenario& scenario)
{
    return Read(value, scenario.*Member);
}

struct TopLevelKey
{
    std::wstring_view name;
    KeyReader read;
};

// Every top-level key and its reader, in the order they are read.
constexpr TopLevelKey TopLevelKeys[] = {
    {L"windows", Into<&Scenario::windows, ReadWindows>},
    {L"computeSystems", Into<&Scenario::computeSystems, ReadComputeSystems>},
    {L"services", Into<&Scenario::services, ReadServices>},
    {L"packages", Into<&Scenario::packages, ReadPackages>},
    {L"packageWalkFailsAfter", Into<&Scenario::packageWalkFailsAfter, ReadPackageWalkFailsAfter>},
    {L"bluetooth", Into<&Scenario::bluetooth, ReadBluetooth>},
    {L"hello", Into<&Scenario::hello, ReadHello>},
    {L"cellular", Into<&Scenario::cellular, ReadCellular>},
    {L"modem", Into<&Scenario::modem, ReadModem>},
    {L"network", Into<&Scenario::network, ReadNetwork>},
    {L"smsRouter", Into<&Scenario::smsRouter, ReadSmsRouter>},
    {L"shell", Into<&Scenario::shell, ReadShell>},
    {L"publisherIds", Into<&Scenario::publisherIds, ReadPublisherIds>},
    {L"deploymentFailures", Into<&Scenario::deploymentFailures, ReadDeploymentFailures>},
    {L"appSettings", Into<&Scenario::appSettings, ReadAppSettings>},
    {L"trust", Into<&Scenario::trust, ReadTrust>},
};

} // namespace

Pd::Result<Scenario> ParseScenario(const Json::Value& document)
{
    if (document.kind != Json::Kind::Object)
        return Pd::Fail(L"scenario.json: the document must be an object");
    Scenario scenario;
    for (const TopLevelKey& key : TopLevelKeys)
        if (auto read = key.read(document.Member(key.name), scenario); !read)
            return std::unexpected(read.error());
    return scenario;
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
