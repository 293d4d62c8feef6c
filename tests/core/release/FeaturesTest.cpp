// Developer mode and Virtual Machine Platform. The Wine prefix lets the tests write the machine's
// registry. Its dism.exe is a stand-in that does nothing and exits with 0: enabling "succeeds"
// without a restart, which shows the tool's path, command and exit code handling; the exit codes
// 3010 and errors are shown through the simulated PC.
#include "core/release/Features.h"

#include <windows.h>

#include <gtest/gtest.h>

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

} // namespace
