// The simulated build's trust: the scenario's test publisher, and the simulator's own catalog
// check. The shipped build answers "none" and "not listed" (ShippedServices.cpp).
#include "platform/Publisher.h"

#include "platform/sim/Scenario.h"
#include "platform/sim/SimCatalog.h"
#include "platform/sim/Simulation.h"

#include <cstdint>
#include <vector>

namespace Pd::Platform
{

std::optional<Core::PublisherPins> StandInPublisher()
{
    auto folder = Sim::ActiveScenarioFolder();
    if (!folder)
        return std::nullopt;
    Sim::ScenarioTrust trust = Sim::LoadScenario(*folder).trust;
    return Core::PublisherPins{std::move(trust.publisher), std::move(trust.rootPrefix),
                               std::move(trust.rootKeys)};
}

bool StandInCatalogListsMember(const std::wstring& path, HANDLE file, const Core::PublisherPins& publisher,
                               std::wstring_view sha256)
{
    constexpr DWORD Limit = 16u << 20;
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file, &size) || size.QuadPart <= 0 || size.QuadPart > Limit)
        return false;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size.QuadPart));
    DWORD read = 0;
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN) ||
        !::ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
        read != bytes.size())
        return false;
    return Sim::CatalogListsMember(path, bytes, publisher, sha256);
}

} // namespace Pd::Platform
