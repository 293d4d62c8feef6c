// The helpers that ask Windows about the process: its path, its rights, folders, error texts and
// the host-changed signal.
#include "core/Elevation.h"
#include "core/ErrorText.h"
#include "core/HostChanged.h"
#include "core/Module.h"
#include "core/Paths.h"

#include "core/Handles.h"

#include "ScratchFolder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <regex>

namespace
{

using namespace Pd::Core;

std::wstring CurrentFolder()
{
    wchar_t buffer[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, buffer);
    return buffer;
}

TEST(ModulePath, IsTheFullPathOfThisExe)
{
    std::filesystem::path path = ModulePath();
    EXPECT_TRUE(path.is_absolute());
    EXPECT_EQ(path.filename(), L"pd_core_tests.exe");
    EXPECT_TRUE(std::filesystem::exists(path));
}

TEST(ModuleHandle, IsTheModuleOfTheRunningExe)
{
    EXPECT_EQ(ModuleHandle(), ::GetModuleHandleW(nullptr));
}

TEST(NormalizeFolder, ResolvesDotsSeparatorsAndTrailingSeparators)
{
    EXPECT_EQ(NormalizeFolder(L"C:\\a\\b\\..\\c\\"), L"C:\\a\\c");
    EXPECT_EQ(NormalizeFolder(L"C:/a/./b//"), L"C:\\a\\b");
    EXPECT_EQ(NormalizeFolder(L"C:\\"), L"C:\\");
    EXPECT_EQ(NormalizeFolder(L"C:\\a\\.."), L"C:\\");
    EXPECT_EQ(NormalizeFolder(L""), L"");
}

TEST(NormalizeFolder, MakesRelativePathsFullAgainstTheCurrentFolder)
{
    std::wstring expected = CurrentFolder();
    if (expected.back() != L'\\')
        expected += L'\\';
    EXPECT_EQ(NormalizeFolder(L"sub\\"), expected + L"sub");
}

TEST(IsElevated, WineRunsEveryProcessElevated)
{
    EXPECT_TRUE(IsElevated());
}

TEST(ShellExecuteUnelevated, StartsAProgramThroughTheDesktopShell)
{
    // Wine's desktop (explorer.exe) serves the shell's window list, so the request goes through.
    PdTest::ScratchFolder folder;
    auto script = folder.Write(L"mark.cmd", "@echo started> \"%~dp0started.txt\"\r\n");
    ASSERT_TRUE(ShellExecuteUnelevated(script.c_str()));
    auto marker = folder.Path() / L"started.txt";
    for (int slice = 0; slice < 200 && !std::filesystem::exists(marker); ++slice)
        ::Sleep(50);
    EXPECT_TRUE(std::filesystem::exists(marker));
}

TEST(ShellExecuteUnelevated, RefusesAMissingTarget)
{
    EXPECT_FALSE(ShellExecuteUnelevated(nullptr));
}

TEST(ErrorText, NamesTheStepTheMessageAndTheDecimalCode)
{
    std::wstring text = ErrorText(L"Opening x", ERROR_ACCESS_DENIED);
    EXPECT_TRUE(std::regex_match(text, std::wregex(LR"(Opening x: [^\r\n]*\S \(code 5\))"))) << text;
    EXPECT_EQ(text.find(L"unknown error"), std::wstring::npos);
}

TEST(ErrorText, WritesHresultsInHexadecimal)
{
    std::wstring text = ErrorText(L"Step", 0x80070005u);
    EXPECT_TRUE(std::regex_match(text, std::wregex(LR"(Step: [^\r\n]*\S \(code 0x80070005\))"))) << text;
    EXPECT_NE(ErrorText(L"Step", 0x8007000Eu).find(L"(code 0x8007000E)"), std::wstring::npos);
}

TEST(ErrorText, CodeWithoutAnyMessageSaysUnknownError)
{
    EXPECT_EQ(ErrorText(L"Step", 0x2000ABCDu), L"Step: unknown error (code 536914893)");
    EXPECT_EQ(ErrorText(L"Step", 0xA000ABCDu), L"Step: unknown error (code 0xA000ABCD)");
}

class HostChanged : public ::testing::Test
{
protected:
    static std::wstring UniqueName()
    {
        return L"Local\\Peldra.Test." + std::to_wstring(::GetCurrentProcessId()) + L"." +
               std::to_wstring(::GetTickCount64());
    }
    static bool IsSet(HANDLE event) { return ::WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }
};

TEST_F(HostChanged, SetsTheEventTheWindowCreated)
{
    Pd::UniqueHandle event(::CreateEventW(nullptr, FALSE, FALSE, L"Local\\Peldra.Host.Changed"));
    ASSERT_TRUE(event);
    EXPECT_TRUE(SignalHostChanged());
    EXPECT_TRUE(IsSet(event.Get()));
}

TEST_F(HostChanged, MissingEventIsIgnored)
{
    EXPECT_FALSE(SignalNamedEvent(UniqueName().c_str()));
}

TEST_F(HostChanged, SetsAnyNamedEventOnce)
{
    std::wstring name = UniqueName();
    Pd::UniqueHandle event(::CreateEventW(nullptr, FALSE, FALSE, name.c_str()));
    ASSERT_TRUE(event);
    EXPECT_FALSE(IsSet(event.Get()));
    EXPECT_TRUE(SignalNamedEvent(name.c_str()));
    EXPECT_TRUE(IsSet(event.Get()));
    EXPECT_FALSE(IsSet(event.Get())); // auto-reset: one wake per signal
}

} // namespace
