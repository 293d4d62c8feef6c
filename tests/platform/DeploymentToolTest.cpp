#include "platform/DeploymentTool.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace
{

std::wstring CommandProcessor()
{
    wchar_t system[MAX_PATH] = {};
    ::GetSystemDirectoryW(system, MAX_PATH);
    return std::wstring(system) + L"\\cmd.exe";
}

TEST(DeploymentTool, ExitCodeOfTheToolIsReturned)
{
    for (std::uint32_t code : {0u, 3010u, 87u})
    {
        auto result =
            Pd::Platform::RunDeploymentTool(CommandProcessor(), L"cmd.exe /c exit " + std::to_wstring(code));
        ASSERT_TRUE(result) << code;
        EXPECT_EQ(*result, code);
    }
}

TEST(DeploymentTool, ToolThatCannotStartGivesTheWindowsError)
{
    auto result =
        Pd::Platform::RunDeploymentTool(L"C:\\windows\\system32\\no-such-tool.exe", L"no-such-tool.exe");
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
}

} // namespace
