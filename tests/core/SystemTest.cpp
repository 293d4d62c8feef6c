// The helpers that ask Windows about the process: its path, its rights, folders, error texts and
// the host-changed signal.
#include "core/Elevation.h"
#include "core/ErrorText.h"
#include "core/Module.h"
#include "core/Paths.h"
#include "core/Strings.h"

#include "core/Handles.h"

#include "ScratchFolder.h"
#include "tests/support/HangLimit.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <regex>

namespace
{

using namespace Pd::Core;

TEST(Process, ModuleIsThisExeAndWineRunsItElevated)
{
    std::filesystem::path path = ModulePath();
    EXPECT_TRUE(path.is_absolute());
    EXPECT_EQ(path.filename(), L"pd_core_tests.exe");
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(ModuleHandle(), ::GetModuleHandleW(nullptr));
    EXPECT_TRUE(IsElevated());
    EXPECT_TRUE(MayBeElevated());
    // A token that cannot be asked is of unknown elevation, which IsElevated refuses and
    // MayBeElevated takes as elevated.
    EXPECT_EQ(ElevationOf(nullptr), Elevation::Unknown);
    Pd::UniqueHandle token;
    ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Put()));
    EXPECT_EQ(ElevationOf(token.Get()), Elevation::Elevated);
}

TEST(NormalizeFolder, ResolvesDotsSeparatorsAndRelativePathsAndKeepsShares)
{
    EXPECT_EQ(NormalizeFolder(L"C:\\a\\b\\..\\c\\"), L"C:\\a\\c");
    EXPECT_EQ(NormalizeFolder(L"C:/a/./b//"), L"C:\\a\\b");
    EXPECT_EQ(NormalizeFolder(L"C:\\"), L"C:\\");
    EXPECT_EQ(NormalizeFolder(L"C:\\a\\.."), L"C:\\");
    EXPECT_EQ(NormalizeFolder(L""), L"");
    EXPECT_EQ(NormalizeFolder(L"//server/share/a/../b/"), L"\\\\server\\share\\b");
    std::filesystem::path current = std::filesystem::current_path() / L"sub";
    EXPECT_EQ(NormalizeFolder(L"sub\\"), current.wstring());
}

TEST(ShellExecuteUnelevated, StartsAProgramThroughTheDesktopShell)
{
    EXPECT_FALSE(ShellExecuteUnelevated(nullptr));
    // Wine's desktop (explorer.exe) serves the shell's window list, so the request goes through.
    PdTest::ScratchFolder folder;
    auto script = folder.Write(L"mark.cmd", "@cd> \"%~dp0folder.txt\"\r\n@echo %1> \"%~dp0started.txt\"\r\n");
    const auto elsewhere = folder.Path() / L"elsewhere";
    std::filesystem::create_directories(elsewhere);
    ASSERT_TRUE(ShellExecuteUnelevated(script.c_str(), L"/shutdown", elsewhere.c_str()));
    auto marker = folder.Path() / L"started.txt";
    const auto firstLine = [](const std::filesystem::path& file) {
        std::string line;
        std::getline(std::ifstream(file), line);
        return line.substr(0, line.find_last_not_of(" \r") + 1);
    };
    // The script writes its folder first, then its arguments in one line.
    ASSERT_TRUE(Pd::Test::PollUntil([&] { return !firstLine(marker).empty(); }));
    EXPECT_EQ(firstLine(marker), "/shutdown") << "its arguments";
    EXPECT_TRUE(
        EqualsIgnoringCase(Pd::Core::FromUtf8(firstLine(folder.Path() / L"folder.txt")), elsewhere.wstring()))
        << "its folder";
}

TEST(ErrorText, NamesTheStepTheMessageAndTheCode)
{
    std::wstring text = ErrorText(L"Opening x", ERROR_ACCESS_DENIED);
    EXPECT_TRUE(std::regex_match(text, std::wregex(LR"(Opening x: [^\r\n]*\S \(code 5\))"))) << text;
    EXPECT_EQ(text.find(L"unknown error"), std::wstring::npos);
    text = ErrorText(L"Step", 0x80070005u); // HRESULTs in hexadecimal
    EXPECT_TRUE(std::regex_match(text, std::wregex(LR"(Step: [^\r\n]*\S \(code 0x80070005\))"))) << text;
    EXPECT_EQ(ErrorText(L"Step", 0x2000ABCDu), L"Step: unknown error (code 536914893)");
    EXPECT_EQ(ErrorText(L"Step", 0xA000ABCDu), L"Step: unknown error (code 0xA000ABCD)");
}

// Wine has no messages for WinHTTP's codes: ours stand in for those a user meets.
TEST(ErrorText, NetworkFailuresAreSaidInWords)
{
    for (std::uint32_t code :
         {12029u, 12007u, 12002u, 12030u, 12157u, 12175u, 12038u, 12037u, 12045u, 12169u, 12044u, 12152u})
    {
        std::wstring text = ErrorText(L"Step", code);
        EXPECT_TRUE(std::regex_match(
            text, std::wregex(LR"(Step: [^\r\n]*\S \(code )" + std::to_wstring(code) + L"\\)")))
            << text;
        EXPECT_EQ(text.find(L"unknown error"), std::wstring::npos) << text;
    }
}

} // namespace
