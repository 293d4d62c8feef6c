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

    std::wstring OnConsole() const { return state.ConsoleText(FakeConsoleDevice::ConsoleOutput); }
    std::string InOutputFile() const { return state.FileBytes(FakeConsoleDevice::StdOutput); }
    std::string InErrorFile() const { return state.FileBytes(FakeConsoleDevice::StdError); }

    FakeConsoleState state;
};

// Where the streams go

TEST_F(ConsoleTest, RedirectedStreamsAreKeptAndNoConsoleIsAttachedOrOpened)
{
    state.outputKind = HandleKind::FileOrPipe;
    state.errorKind = HandleKind::FileOrPipe;
    auto console = Open();
    console->Row(Level::Info, L"reading");
    console->Row(Level::Error, L"broken");
    console->Close();

    EXPECT_EQ(state.attachCalls, 0);
    EXPECT_EQ(state.allocateCalls, 0);
    EXPECT_EQ(InOutputFile(), "[INFO] reading\r\n");
    EXPECT_EQ(InErrorFile(), "[FAIL] broken\r\n");
    EXPECT_EQ(state.enterPresses + state.keyWaits + state.detaches, 0);
}

TEST_F(ConsoleTest, OutputToAFileWithErrorOnTheConsoleKeepsRowsPlainAndDrawsProgressOnTheConsole)
{
    state.outputKind = HandleKind::FileOrPipe;
    state.errorKind = HandleKind::Console; // replaced by the attached console
    auto console = Open();
    console->Row(Level::Success, L"done");
    console->Row(Level::Error, L"failed");
    console->Progress(L"system.img", 0.5, L"1.0 MB / 2.0 MB");

    EXPECT_EQ(state.attachCalls, 1);
    EXPECT_EQ(InOutputFile(), "[ OK ] done\r\n"); // no colours: the output stream is no console
    std::wstring shown = OnConsole();
    EXPECT_EQ(shown.find(L"[FAIL] failed\n"), 0u);
    EXPECT_NE(shown.find(L"\r  system.img"), std::wstring::npos);
    EXPECT_EQ(shown.find(L"\x1b["), std::wstring::npos);
}

TEST_F(ConsoleTest, WithoutStreamsItAttachesToTheParentConsoleAndColoursRows)
{
    auto console = Open();
    console->Row(Level::Info, L"a");
    console->Row(Level::Success, L"b");
    console->Row(Level::Warning, L"c");
    console->Row(Level::Error, L"d");

    EXPECT_EQ(state.allocateCalls, 0);
    EXPECT_EQ(OnConsole(), L"\x1b[90m[INFO]\x1b[0m a\n"
                           L"\x1b[32m[ OK ]\x1b[0m b\n"
                           L"\x1b[33m[WARN]\x1b[0m c\n"
                           L"\x1b[91m[FAIL]\x1b[0m d\n");

    console->Close();
    EXPECT_EQ(state.enterPresses, 1); // the parent shell gets its prompt back
    EXPECT_EQ(state.keyWaits, 0);
    EXPECT_EQ(state.outputCloses, 1);
    EXPECT_EQ(state.detaches, 1);
}

TEST_F(ConsoleTest, AConsoleWithoutEscapeSequencesGetsPlainTags)
{
    state.escapesWork = false;
    auto console = Open();
    console->Row(Level::Warning, L"careful");
    EXPECT_EQ(OnConsole(), L"[WARN] careful\n");
}

TEST_F(ConsoleTest, WithoutAParentConsoleItOpensOneTitledPeldraAndWaitsForAKeyAtTheEnd)
{
    state.parentConsole = false;
    auto console = Open();
    EXPECT_EQ(state.allocateCalls, 1);
    EXPECT_EQ(state.title, L"Peldra");

    console->Close();
    EXPECT_EQ(OnConsole(), L"\nPress any key to close this window.");
    EXPECT_EQ(state.keyWaits, 1);
    EXPECT_EQ(state.enterPresses, 0);
    EXPECT_EQ(state.detaches, 1);

    console->Close(); // a second close does nothing
    console.reset();  // and neither does the destructor
    EXPECT_EQ(state.keyWaits, 1);
    EXPECT_EQ(state.detaches, 1);
}

TEST_F(ConsoleTest, OneRedirectedStreamServesBothWhenThereIsNoParentConsole)
{
    state.outputKind = HandleKind::FileOrPipe;
    state.parentConsole = false;
    auto console = Open();
    console->Row(Level::Error, L"lost?");

    EXPECT_EQ(state.allocateCalls, 0); // one stream is there: no console window of its own
    EXPECT_EQ(InOutputFile(), "[FAIL] lost?\r\n");
}

TEST_F(ConsoleTest, NothingToWriteToIsHarmless)
{
    state.parentConsole = false;
    state.canAllocate = false;
    auto console = Open();
    console->Row(Level::Error, L"nowhere");
    console->Progress(L"label", 0.5, L"");
    console->Close();
    EXPECT_TRUE(state.written.empty());
    EXPECT_EQ(state.detaches, 0);
}

// What reaches files and pipes

TEST_F(ConsoleTest, FilesGetUtf8WithCrLfLineEnds)
{
    state.outputKind = HandleKind::FileOrPipe;
    state.errorKind = HandleKind::FileOrPipe;
    auto console = Open();
    console->Write(Stream::Output, L"Gr\u00f6\u00dfe \u2026\nsecond\r\nthird\n");
    EXPECT_EQ(InOutputFile(), "Gr\xc3\xb6\xc3\x9f"
                              "e \xe2\x80\xa6\r\nsecond\r\nthird\r\n");
    console->Write(Stream::Error, L"");
    EXPECT_EQ(state.written.size(), 1u);
}

// The progress line

TEST_F(ConsoleTest, ConsoleProgressIsRedrawnInPlaceAtMostEveryHundredMilliseconds)
{
    auto console = Open();
    console->Progress(L"download", 0.1, L"");
    state.now += 50;
    console->Progress(L"download", 0.2, L"");
    state.now += 50;
    console->Progress(L"download", 0.3, L"");

    ASSERT_EQ(state.written.size(), 2u);
    for (const auto& draw : state.written)
    {
        EXPECT_EQ(draw.text.front(), L'\r');
        EXPECT_EQ(draw.text.find(L'\n'), std::wstring::npos);
    }
    EXPECT_NE(state.written[0].text.find(L"  10%"), std::wstring::npos);
    EXPECT_NE(state.written[1].text.find(L"  30%"), std::wstring::npos);
}

TEST_F(ConsoleTest, AConsoleLineCoversTheWholeWindowWidthButOneColumn)
{
    state.escapesWork = false;
    auto console = Open();
    console->Progress(L"download", 0.5, L"short");
    ASSERT_EQ(state.written.size(), 1u);
    EXPECT_EQ(state.written[0].text.size(), 1u + 94u); // "\r" and 95 - 1 columns
}

TEST_F(ConsoleTest, TheBarIsColouredOnlyWhenTheConsoleTakesEscapeSequences)
{
    auto console = Open();
    console->Progress(L"download", 0.5, L"");
    EXPECT_NE(OnConsole().find(L"\x1b[38;2;215;10;83m"), std::wstring::npos);
}

TEST_F(ConsoleTest, FileProgressIsOneLineASecondAndOneHundredPercentOncePerLabel)
{
    state.outputKind = HandleKind::FileOrPipe;
    state.errorKind = HandleKind::FileOrPipe;
    auto console = Open();
    console->Progress(L"system.img", 0.1, L"a");
    state.now += 999;
    console->Progress(L"system.img", 0.2, L"b");
    state.now += 1;
    console->Progress(L"system.img", 0.3, L"c");
    console->Progress(L"system.img", 1.0, L"d");
    console->Progress(L"system.img", 1.0, L"e");

    std::string file = InOutputFile();
    EXPECT_NE(file.find("  10%  a\r\n"), std::string::npos);
    EXPECT_EQ(file.find("  20%"), std::string::npos);
    EXPECT_NE(file.find("  30%  c\r\n"), std::string::npos);
    EXPECT_NE(file.find(" 100%  d\r\n"), std::string::npos);
    EXPECT_EQ(file.find(" 100%  e"), std::string::npos);
    EXPECT_EQ(state.written.size(), 3u);
    EXPECT_EQ(InErrorFile(), "");
}

TEST_F(ConsoleTest, OneHundredPercentIsDrawnAtOnceButOnlyOnce)
{
    auto console = Open();
    console->Progress(L"unpack", 0.4, L"");
    console->Progress(L"unpack", 1.5, L""); // no wait for the throttle
    console->Progress(L"unpack", 1.0, L"");
    ASSERT_EQ(state.written.size(), 2u);
    EXPECT_NE(state.written[1].text.find(L" 100%"), std::wstring::npos);
}

TEST_F(ConsoleTest, ANewLabelEndsTheOpenLineAndRestartsTheThrottle)
{
    auto console = Open();
    console->Progress(L"first", 1.0, L"");
    console->Progress(L"second", 0.5, L""); // at the same moment
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
    ASSERT_EQ(state.written.size(), 3u);
    EXPECT_EQ(state.written[1].text, L"\r" + std::wstring(59, L' ') + L"\r");
    EXPECT_NE(state.written[2].text.find(L"next"), std::wstring::npos);

    console->Row(Level::Info, L"again"); // nothing is left to blank
    EXPECT_EQ(state.written.size(), 4u);
}

TEST_F(ConsoleTest, FlushLineKeepsTheLastStateAndForgetsTheLabel)
{
    auto console = Open();
    console->Progress(L"download", 1.0, L"");
    console->FlushLine();
    ASSERT_EQ(state.written.size(), 2u);
    EXPECT_EQ(state.written[1].text, L"\n");

    console->Progress(L"download", 1.0, L""); // the same label starts afresh
    EXPECT_EQ(state.written.size(), 3u);
    console->Row(Level::Info, L"x");
    EXPECT_EQ(state.written[3].text.front(), L'\r'); // the new line is blanked before the row
}

TEST_F(ConsoleTest, DisabledProgressDrawsNothing)
{
    auto console = Open();
    console->SetProgressEnabled(false);
    console->Progress(L"download", 0.5, L"");
    console->Progress(L"download", 1.0, L"");
    EXPECT_TRUE(state.written.empty());
}

TEST_F(ConsoleTest, WidthIsTheWindowsColumnsWithinFortyToTwoHundred)
{
    auto console = Open();
    EXPECT_EQ(console->Width(), 95);
    state.columns = 30;
    EXPECT_EQ(console->Width(), 40);
    state.columns = 300;
    EXPECT_EQ(console->Width(), 200);
    state.columns.reset();
    EXPECT_EQ(console->Width(), 80);
}

TEST_F(ConsoleTest, WidthIsEightyWhenProgressGoesToAFile)
{
    state.outputKind = HandleKind::FileOrPipe;
    state.errorKind = HandleKind::FileOrPipe;
    state.columns = 150;
    auto console = Open();
    EXPECT_EQ(console->Width(), 80);
}

TEST_F(ConsoleTest, ProgressUsesTheErrorStreamWhenOnlyThatIsAConsole)
{
    state.outputKind = HandleKind::FileOrPipe;
    state.columns = 200;
    auto console = Open();
    console->Progress(L"download", 0.5, L"");
    EXPECT_EQ(InOutputFile(), "");
    std::wstring shown = OnConsole();
    EXPECT_EQ(std::count(shown.begin(), shown.end(), L'\u2588') +
                  std::count(shown.begin(), shown.end(), L'\u2591'),
              40);
}

TEST_F(ConsoleTest, CloseInAnOpenedConsoleKeepsTheProgressLineAboveItsPrompt)
{
    state.parentConsole = false;
    auto console = Open();
    console->Progress(L"download", 0.5, L"");
    console->Close();
    // FlushLine keeps the line: a line end, then the prompt.
    std::wstring shown = OnConsole();
    EXPECT_NE(shown.find(L"\n\nPress any key to close this window."), std::wstring::npos);
}

} // namespace
