#include "platform/sim/SimWindows.h"

#include "platform/sim/Scenario.h"
#include "platform/sim/Simulation.h"

namespace Pd::Platform::Sim
{

WindowsVersion ReadWindowsVersion(const std::filesystem::path& folder)
{
    ScenarioWindows windows = LoadScenario(folder).windows;
    return WindowsVersion{windows.build, windows.ubr, windows.productName, windows.displayVersion};
}

// state.json: "features": { "virtualMachinePlatform": bool }, "dismRuns": [ command lines ]
std::optional<bool> VirtualMachinePlatformState(const std::filesystem::path& folder)
{
    if (auto switched =
            StateStore(folder).Read().Member(L"features").Member(L"virtualMachinePlatform").AsBool())
        return switched;
    return LoadScenario(folder).windows.virtualMachinePlatform;
}

std::uint32_t RunDism(const std::filesystem::path& folder, const std::wstring& commandLine)
{
    const std::uint32_t exitCode = LoadScenario(folder).windows.dismExitCode;
    const bool enable = commandLine.find(L"/enable-feature") != std::wstring::npos;
    const bool disable = commandLine.find(L"/disable-feature") != std::wstring::npos;
    const bool vmp = commandLine.find(L"/featurename:VirtualMachinePlatform") != std::wstring::npos;
    StateStore(folder).Update([&](Json::Value& state) {
        auto member = [&state](const wchar_t* name, Json::Value fresh) -> Json::Value& {
            Json::Value& value = (*state.members)[name];
            if (value.kind != fresh.kind)
                value = std::move(fresh);
            return value;
        };
        member(L"dismRuns", Json::Value::MakeArray()).items->push_back(Json::Value::MakeString(commandLine));
        if ((exitCode == 0 || exitCode == 3010) && vmp && enable != disable)
            (*member(L"features", Json::Value::MakeObject()).members)[L"virtualMachinePlatform"] =
                Json::Value::MakeBool(enable);
        return true;
    });
    return exitCode;
}

} // namespace Pd::Platform::Sim
