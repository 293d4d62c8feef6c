// A simulated PC for one test: a scratch folder with scenario.json, switched on through
// PELDRA_SIMULATION for the life of the object (this process and the processes it starts).
#pragma once

#include "platform/sim/Simulation.h"

#include <windows.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>

namespace Pd::Test
{

class SimScenario
{
public:
    explicit SimScenario(std::string_view scenarioJson)
    {
        static std::atomic<int> counter{0};
        wchar_t temp[MAX_PATH + 1];
        ::GetTempPathW(MAX_PATH + 1, temp);
        folder_ = std::filesystem::path(temp) / (L"peldra-sim-" + std::to_wstring(::GetCurrentProcessId()) +
                                                 L"-" + std::to_wstring(++counter));
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
        Write(scenarioJson);
        ::SetEnvironmentVariableW(L"PELDRA_SIMULATION", folder_.c_str());
    }
    ~SimScenario()
    {
        ::SetEnvironmentVariableW(L"PELDRA_SIMULATION", nullptr);
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    SimScenario(const SimScenario&) = delete;
    SimScenario& operator=(const SimScenario&) = delete;

    // Replaces scenario.json at once (written beside it, then moved over it, also while the
    // simulator is reading it); a scenario that cannot be replaced ends the test program.
    void Write(std::string_view scenarioJson) const
    {
        std::filesystem::path next = folder_ / L"scenario.json.next";
        {
            std::ofstream out(next, std::ios::binary | std::ios::trunc);
            out << scenarioJson;
        }
        if (!Pd::Platform::Sim::ReplaceFileWhenUnread(next, folder_ / L"scenario.json"))
            throw std::runtime_error("scenario.json could not be replaced");
    }

    const std::filesystem::path& Folder() const { return folder_; }

private:
    std::filesystem::path folder_;
};

} // namespace Pd::Test
