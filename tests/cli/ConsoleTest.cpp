#include "cli/Console.h"

#include "FakeConsoleDevice.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace
{

using Pd::Level;
using Pd::Cli::Console;
using Pd::Cli::HandleKind;
using Pd::Cli::Stream;
using PdTest::FakeConsoleDevice;
using PdTest::FakeConsoleState;

class ConsoleTest : public ::testing::Test
{
protected:
    std::unique_ptr<Console> Open()
    {
        return std::make_unique<Console>(std::make_unique<FakeConsoleDevice>(state));
    }
    void Redirect()
    {
        state.outputKind = HandleKind::FileOrPipe;
        state.errorKind = HandleKind::FileOrPipe;
    }
    std::string OutputFile() const { return state.InFile(state.StdOutput); }

    FakeConsoleState state;
};

// Where the streams go

TEST_F(ConsoleTest, RedirectedStreamsAreKeptAndNoConsoleIsAttached)
{
    Redirect();
    auto console = Open();
    console->Row(Level::Info, L"reading");
    console->Row(Level::Error, L"broken");
    console->Close();

    EXPECT_EQ(state.attachCalls + state.allocateCalls, 0);
    EXPECT_EQ(OutputFile(), "[INFO] reading\r\n");
    EXPECT_EQ(state.InFile(state.StdError), "[FAIL] broken\r\n");
    EXPECT_EQ(state.enterPresses + state.keyWaits + state.detaches, 0);
}

TEST_F(ConsoleTest, OutputInAFileKeepsRowsPlainWhileProgressIsDrawnOnTheConsole)
{
    state.outputKind = HandleKind::FileOrPipe;
    state.errorKind = HandleKind::Console; // replaced by the attached console
    auto console = Open();
    console->Row(Level::Success, L"done");
    console->Row(Level::Error, L"failed");
    console->Progress(L"system.img", 0.5, L"1.0 MB / 2.0 MB");

    EXPECT_EQ(state.attachCalls, 1);
    EXPECT_EQ(OutputFile(), "[ OK ] done\r\n");
    std::wstring shown = state.OnConsole();
    EXPECT_EQ(shown.find(L"[FAIL] failed\n\r  system.img"), 0u);
    EXPECT_EQ(shown.find(L"\x1b["), std::wstring::npos); // escapes only when the output is a console
}

TEST_F(ConsoleTest, WithoutStreamsItAttachesToTheParentColoursRowsAndGivesThePromptBack)
{
    auto console = Open();
    console->Row(Level::Info, L"a");
    console->Row(Level::Success, L"b");
    console->Row(Level::Warning, L"c");
    console->Row(Level::Error, L"d");
    EXPECT_EQ(state.OnConsole(), L"\x1b[90m[INFO]\x1b[0m a\n\x1b[32m[ OK ]\x1b[0m b\n"
                                 L"\x1b[33m[WARN]\x1b[0m c\n\x1b[91m[FAIL]\x1b[0m d\n");

    console->Close();
    EXPECT_EQ(state.allocateCalls, 0);
    EXPECT_EQ(state.enterPresses, 1);
    EXPECT_EQ(state.keyWaits, 0);
    EXPECT_EQ(state.detaches, 1);
}

TEST_F(ConsoleTest, WithoutAParentItOpensAConsoleTitledPeldraAndWaitsForAKeyOnce)
{
    state.parentConsole = false;
    auto console = Open();
    EXPECT_EQ(state.title, L"Peldra");
    console->Close();
    console.reset(); // the destructor does not close again
    EXPECT_EQ(state.OnConsole(), L"\nPress any key to close this window.");
    EXPECT_EQ(state.keyWaits, 1);
    EXPECT_EQ(state.enterPresses, 0);
    EXPECT_EQ(state.detaches, 1);
}

TEST_F(ConsoleTest, AGivenConsoleIsUsedWhenThereIsNoParentToAttachTo)
{
    state.outputKind = HandleKind::Console;
    state.errorKind = HandleKind::Console;
    state.parentConsole = false;
    auto console = Open();
    console->Row(Level::Warning, L"shown");
    console->Row(Level::Error, L"too");
    console->Close();

    EXPECT_EQ(state.allocateCalls, 0);
    ASSERT_EQ(state.written.size(), 2u);
    EXPECT_EQ(state.written[0].handle, state.StdOutput);
    EXPECT_EQ(state.written[0].text, L"\x1b[33m[WARN]\x1b[0m shown\n");
    EXPECT_EQ(state.written[1].handle, state.StdError);
    EXPECT_EQ(state.keyWaits + state.enterPresses + state.detaches, 0);
}

TEST_F(ConsoleTest, OneRedirectedStreamServesBothWhenThereIsNoParent)
{
    state.outputKind = HandleKind::FileOrPipe;
    state.parentConsole = false;
    auto console = Open();
    console->Row(Level::Error, L"here");
    EXPECT_EQ(state.allocateCalls, 0);
    EXPECT_EQ(OutputFile(), "[FAIL] here\r\n");
}

TEST_F(ConsoleTest, FilesGetUtf8WithCrLfLineEnds)
{
    Redirect();
    auto console = Open();
    console->Write(Stream::Output, L"Gr\u00f6\u00dfe \u2026\nsecond\r\nthird\n");
    EXPECT_EQ(OutputFile(), "Gr\xc3\xb6\xc3\x9f"
                            "e \xe2\x80\xa6\r\nsecond\r\nthird\r\n");
}

// The progress line

TEST_F(ConsoleTest, ConsoleProgressIsRedrawnInPlaceAtMostEveryHundredMillisecondsAndFullAtOnce)
{
    auto console = Open();
    console->Progress(L"download", 0.1, L"");
    state.now += 99;
    console->Progress(L"download", 0.2, L"");
    state.now += 1;
    console->Progress(L"download", 0.3, L"");
    console->Progress(L"download", 1.5, L"");
    console->Progress(L"download", 1.0, L"");

    ASSERT_EQ(state.written.size(), 3u);
    for (const auto& draw : state.written)
    {
        EXPECT_EQ(draw.text.front(), L'\r');
        EXPECT_EQ(draw.text.find(L'\n'), std::wstring::npos);
    }
    EXPECT_NE(state.written[1].text.find(L"  30%"), std::wstring::npos);
    EXPECT_NE(state.written[2].text.find(L" 100%"), std::wstring::npos);
    EXPECT_NE(state.written[2].text.find(L"\x1b[38;2;215;10;83m"), std::wstring::npos);
}

TEST_F(ConsoleTest, FileProgressIsOneLineASecondAndOneHundredPercentOncePerLabel)
{
    Redirect();
    auto console = Open();
    console->Progress(L"system.img", 0.1, L"a");
    state.now += 999;
    console->Progress(L"system.img", 0.2, L"b");
    state.now += 1;
    console->Progress(L"system.img", 0.3, L"c");
    console->Progress(L"system.img", 1.0, L"d");
    console->Progress(L"system.img", 1.0, L"e");

    std::string file = OutputFile();
    EXPECT_EQ(state.written.size(), 3u);
    EXPECT_NE(file.find("  10%  a\r\n"), std::string::npos);
    EXPECT_NE(file.find("  30%  c\r\n"), std::string::npos);
    EXPECT_NE(file.find(" 100%  d\r\n"), std::string::npos);
}

TEST_F(ConsoleTest, ANewLabelEndsTheOpenLineAndIsDrawnAtOnce)
{
    auto console = Open();
    console->Progress(L"first", 1.0, L"");
    console->Progress(L"second", 0.5, L"");
    ASSERT_EQ(state.written.size(), 3u);
    EXPECT_EQ(state.written[1].text, L"\n");
    EXPECT_NE(state.written[2].text.find(L"second"), std::wstring::npos);
}

TEST_F(ConsoleTest, ARowFirstBlanksAnOpenProgressLine)
{
    state.columns = 60;
    auto console = Open();
    console->Progress(L"download", 0.5, L"");
    console->Row(Level::Info, L"next");
    console->Row(Level::Info, L"again");
    ASSERT_EQ(state.written.size(), 4u);
    EXPECT_EQ(state.written[1].text, L"\r" + std::wstring(59, L' ') + L"\r");
    EXPECT_NE(state.written[3].text.find(L"again"), std::wstring::npos);
}

TEST_F(ConsoleTest, FlushLineKeepsTheLastStateAndForgetsTheLabel)
{
    auto console = Open();
    console->Progress(L"download", 1.0, L"");
    console->FlushLine();
    console->Progress(L"download", 1.0, L""); // the same label starts afresh
    ASSERT_EQ(state.written.size(), 3u);
    EXPECT_EQ(state.written[1].text, L"\n");

    console->SetProgressEnabled(false);
    console->Progress(L"other", 1.0, L"");
    EXPECT_EQ(state.written.size(), 3u);
}

TEST_F(ConsoleTest, WidthIsTheWindowsColumnsWithinFortyToTwoHundredAndEightyWithoutAConsole)
{
    auto console = Open();
    EXPECT_EQ(console->Width(), 95);
    state.columns = 30;
    EXPECT_EQ(console->Width(), 40);
    state.columns = 300;
    EXPECT_EQ(console->Width(), 200);
    state.columns.reset();
    EXPECT_EQ(console->Width(), 80);

    Redirect();
    state.columns = 150;
    EXPECT_EQ(Open()->Width(), 80);
}

} // namespace
