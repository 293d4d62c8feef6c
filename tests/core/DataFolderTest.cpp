#include "core/DataFolder.h"
#include "core/Log.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace
{

std::string ReadAll(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(DataFolder, IsLocalAppDataJoinedWithPeldra)
{
    wchar_t expected[MAX_PATH] = {};
    ASSERT_GT(::ExpandEnvironmentStringsW(L"%LOCALAPPDATA%\\Peldra", expected, MAX_PATH), 0u);
    EXPECT_EQ(std::filesystem::path(Pd::Core::DataFolder()), std::filesystem::path(expected));
}

TEST(Log, AppendsEachLineToTheLogFileWithASingleLineFeed)
{
    auto file = std::filesystem::path(Pd::Core::DataFolder()) / L"bluetooth.log";
    std::string marker =
        "log test " + std::to_string(::GetCurrentProcessId()) + " " + std::to_string(::GetTickCount64());
    Pd::Core::SetLogSink([](std::string_view) {});
    Pd::Core::Log(marker);
    Pd::Core::SetLogSink({});

    std::string contents = ReadAll(file);
    auto at = contents.find("] " + marker);
    ASSERT_NE(at, std::string::npos);
    std::string_view tail(contents.data() + at + 2 + marker.size());
    ASSERT_FALSE(tail.empty());
    EXPECT_EQ(tail.front(), '\n'); // no carriage return
}

} // namespace
