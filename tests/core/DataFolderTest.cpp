#include "core/DataFolder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>

namespace
{

TEST(DataFolder, IsPeldraInLocalAppData)
{
    wchar_t expected[MAX_PATH] = {};
    ASSERT_GT(::ExpandEnvironmentStringsW(L"%LOCALAPPDATA%\\Peldra", expected, MAX_PATH), 0u);
    EXPECT_EQ(std::filesystem::path(Pd::Core::DataFolder()), std::filesystem::path(expected));
}

} // namespace
