#include "platform/sim/SimWindows.h"

#include "platform/sim/Scenario.h"

namespace Pd::Platform::Sim
{

WindowsVersion ReadWindowsVersion(const std::filesystem::path& folder)
{
    ScenarioWindows windows = LoadScenario(folder).windows;
    return WindowsVersion{windows.build, windows.ubr, windows.productName, windows.displayVersion};
}

std::optional<bool> VirtualMachinePlatformState(const std::filesystem::path& folder)
{
    return LoadScenario(folder).windows.virtualMachinePlatform;
}

} // namespace Pd::Platform::Sim
