// Developer mode and Virtual Machine Platform. The Wine prefix lets the tests write the machine's
// registry. Its dism.exe is a stand-in that does nothing and exits with 0: enabling "succeeds"
// without a restart, which shows the tool's path, command and exit code handling; the exit codes
// 3010 and errors are shown through the simulated PC.
#include "release/windows/Features.h"

#include "core/Strings.h"
#include "platform/sim/Simulation.h"
#include "platform/Wmi.h"
#include "tests/release/Helpers.h"
#include "tests/release/UserValues.h"
#include "tests/support/SimScenario.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace
{

TEST(VirtualMachinePlatform, WinesToolExitingWithZeroNeedsNoRestart)
{
    std::vector<std::wstring> lines;
    auto log = [&](const std::wstring& line) { lines.push_back(line); };
    EXPECT_EQ(Pd::Core::EnableVmp(log), Pd::Result<bool>(false));
    EXPECT_EQ(Pd::Core::DisableVmp(log), Pd::Result<bool>(false));
    EXPECT_EQ(lines, (std::vector<std::wstring>{L"Enabling Virtual Machine Platform (DISM)…",
                                                L"Disabling Virtual Machine Platform (DISM)…"}));
}

// The simulated PC's dism.exe answers with the scenario's exit code and switches the feature.
TEST(VirtualMachinePlatform, TheToolsCommandLineAndExitCodeDecide)
{
    wchar_t system[MAX_PATH] = {};
    ::GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring dism = L"\"" + std::wstring(system) + L"\\dism.exe\" /online /";
    struct Case
    {
        bool enable;
        int exitCode;
        std::optional<bool> restart; // none: the step fails with the code
        std::wstring command;
    };
    const Case cases[] = {
        {true, 0, false, dism + L"enable-feature /featurename:VirtualMachinePlatform /all /norestart /quiet"},
        {true, 3010, true,
         dism + L"enable-feature /featurename:VirtualMachinePlatform /all /norestart /quiet"},
        {true, 87, std::nullopt,
         dism + L"enable-feature /featurename:VirtualMachinePlatform /all /norestart /quiet"},
        {false, 3010, true, dism + L"disable-feature /featurename:VirtualMachinePlatform /norestart /quiet"},
    };
    for (const Case& c : cases)
    {
        Pd::Test::SimScenario pc(R"({"windows": {"build": 22631, "virtualMachinePlatform": )" +
                                 std::string(c.enable ? "false" : "true") + R"(, "dismExitCode": )" +
                                 std::to_string(c.exitCode) + "}}");
        std::vector<std::wstring> lines;
        auto result = Pd::Core::RunDism(c.enable, [&](const std::wstring& line) { lines.push_back(line); });
        if (c.restart)
        {
            EXPECT_EQ(result, Pd::Result<bool>(*c.restart)) << c.exitCode;
        }
        else
        {
            EXPECT_TRUE(PdTest::ErrorOf(result).starts_with(L"Enabling Virtual Machine Platform: ") &&
                        PdTest::ErrorOf(result).ends_with(L" (code 87)"))
                << PdTest::ErrorOf(result);
        }
        EXPECT_EQ(lines.size(), 1u);
        const auto runs = Pd::Platform::Sim::StateStore(pc.Folder()).Read().Member(L"dismRuns").Items();
        ASSERT_EQ(runs.size(), 1u);
        EXPECT_EQ(runs[0].text, c.command);
        EXPECT_EQ(Pd::Core::VmpInstallState(), c.restart ? c.enable : !c.enable) << c.exitCode;
    }
}

} // namespace
