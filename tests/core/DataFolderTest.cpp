#include "core/DataFolder.h"
#include "core/Log.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace
{

TEST(Log, AppendsEachLineToTheLogFileInLocalAppDataWithASingleLineFeedWhateverTheSink)
{
    wchar_t expected[MAX_PATH] = {};
    ASSERT_GT(::ExpandEnvironmentStringsW(L"%LOCALAPPDATA%\\Peldra", expected, MAX_PATH), 0u);
    EXPECT_EQ(std::filesystem::path(Pd::Core::DataFolder()), std::filesystem::path(expected));

    std::string marker =
        "log test " + std::to_string(::GetCurrentProcessId()) + " " + std::to_string(::GetTickCount64());
    // A sink that throws costs the file nothing.
    Pd::Core::SetLogSink([](std::string_view) { throw std::runtime_error("console gone"); });
    Pd::Core::Log(marker);
    Pd::Core::SetLogSink({});

    std::ifstream in(std::filesystem::path(expected) / L"bluetooth.log", std::ios::binary);
    std::stringstream contents;
    contents << in.rdbuf();
    EXPECT_NE(contents.str().find("] " + marker + "\n"), std::string::npos) << "no carriage return";
}

} // namespace
