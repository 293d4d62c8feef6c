// Developer mode and Virtual Machine Platform. The Wine prefix lets the tests write the machine's
// registry. Its dism.exe is a stand-in that does nothing and exits with 0: enabling "succeeds"
// without a restart, which shows the tool's path, command and exit code handling; the exit codes
// 3010 and errors are shown through the simulated PC.
#include "core/release/Features.h"

#include "core/Json.h"
#include "core/Strings.h"
#include "platform/Wmi.h"
#include "tests/support/SimScenario.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace
{

constexpr const wchar_t* UnlockKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\AppModelUnlock";

std::optional<DWORD> DeveloperMode()
{
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, UnlockKey, L"AllowDevelopmentWithoutDevLicense", RRF_RT_REG_DWORD,
                       nullptr, &value, &size) != ERROR_SUCCESS)
        return std::nullopt;
    return value;
}

TEST(DeveloperMode, SwitchesWriteTheUnlockValue)
{
    ASSERT_TRUE(Pd::Core::EnableDeveloperMode());
    EXPECT_EQ(DeveloperMode(), 1u);
    ASSERT_TRUE(Pd::Core::DisableDeveloperMode());
    EXPECT_EQ(DeveloperMode(), 0u);
}

TEST(VirtualMachinePlatform, ToolExitingWithZeroNeedsNoRestart)
{
    std::vector<std::wstring> lines;
    auto result = Pd::Core::EnableVmp([&](const std::wstring& line) { lines.push_back(line); });
    ASSERT_TRUE(result) << result.error();
    EXPECT_FALSE(*result);
    EXPECT_EQ(lines, std::vector<std::wstring>{L"Enabling Virtual Machine Platform (DISM)…"});

    lines.clear();
    result = Pd::Core::DisableVmp([&](const std::wstring& line) { lines.push_back(line); });
    ASSERT_TRUE(result) << result.error();
    EXPECT_FALSE(*result);
    EXPECT_EQ(lines, std::vector<std::wstring>{L"Disabling Virtual Machine Platform (DISM)…"});
}

// The simulated PC: its dism.exe answers with the scenario's exit code and switches the feature.
class SimulatedDism : public ::testing::Test
{
protected:
    static std::string Scenario(int exitCode, bool enabled)
    {
        return "{\"windows\": {\"build\": 22631, \"virtualMachinePlatform\": " +
               std::string(enabled ? "true" : "false") + ", \"dismExitCode\": " + std::to_string(exitCode) +
               "}}";
    }

    // The command lines the simulated dism.exe was started with.
    std::vector<std::wstring> Runs() const
    {
        std::ifstream in(pc_->Folder() / L"state.json", std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::vector<std::wstring> runs;
        if (auto state = Pd::Json::Parser(Pd::Core::FromUtf8(text)).Parse())
            for (const auto& run : state->Member(L"dismRuns").Items())
                runs.push_back(run.text);
        return runs;
    }

    std::wstring SystemFolder() const
    {
        wchar_t folder[MAX_PATH] = {};
        ::GetSystemDirectoryW(folder, MAX_PATH);
        return folder;
    }

    void Start(int exitCode, bool enabled) { pc_.emplace(Scenario(exitCode, enabled)); }

    std::optional<Pd::Test::SimScenario> pc_;
    std::vector<std::wstring> lines_;
    std::function<void(const std::wstring&)> log_ = [this](const std::wstring& line) {
        lines_.push_back(line);
    };
};

TEST_F(SimulatedDism, EnablingRunsTheToolOnceWithTheFeaturesCommandLine)
{
    Start(0, false);
    auto result = Pd::Core::EnableVmp(log_);
    ASSERT_TRUE(result) << result.error();
    EXPECT_FALSE(*result);
    EXPECT_EQ(Runs(),
              std::vector<std::wstring>{L"\"" + SystemFolder() +
                                        L"\\dism.exe\" /online /enable-feature "
                                        L"/featurename:VirtualMachinePlatform /all /norestart /quiet"});
    EXPECT_EQ(Pd::Core::VmpInstallState(), true);
}

TEST_F(SimulatedDism, ExitCode3010IsSuccessWithARestart)
{
    Start(3010, false);
    auto result = Pd::Core::EnableVmp(log_);
    ASSERT_TRUE(result) << result.error();
    EXPECT_TRUE(*result);
    EXPECT_EQ(Pd::Core::VmpInstallState(), true);
}

TEST_F(SimulatedDism, OtherExitCodeIsTheStepWithTheCodeInDecimal)
{
    Start(87, false);
    auto result = Pd::Core::EnableVmp(log_);
    ASSERT_FALSE(result);
    EXPECT_TRUE(result.error().starts_with(L"Enabling Virtual Machine Platform: ")) << result.error();
    EXPECT_TRUE(result.error().ends_with(L" (code 87)")) << result.error();
    EXPECT_EQ(Pd::Core::VmpInstallState(), false);
    EXPECT_EQ(lines_, std::vector<std::wstring>{L"Enabling Virtual Machine Platform (DISM)…"});
}

TEST_F(SimulatedDism, DisablingLeavesOutAll)
{
    Start(3010, true);
    auto result = Pd::Core::DisableVmp(log_);
    ASSERT_TRUE(result) << result.error();
    EXPECT_TRUE(*result);
    EXPECT_EQ(Runs(), std::vector<std::wstring>{L"\"" + SystemFolder() +
                                                L"\\dism.exe\" /online /disable-feature "
                                                L"/featurename:VirtualMachinePlatform /norestart /quiet"});
    EXPECT_EQ(Pd::Core::VmpInstallState(), false);
}

} // namespace
