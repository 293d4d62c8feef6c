#include "platform/sim/SimWindowsScenario.h"

#include "platform/sim/ScenarioReaders.h"

namespace Pd::Platform::Sim
{

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

} // namespace Pd::Platform::Sim
