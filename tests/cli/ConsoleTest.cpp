#include "cli/Console.h"
#include "cli/ReleaseReporting.h"
#include "core/Handles.h"
#include "core/Strings.h"

#include "FakeConsoleDevice.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace
{

using Pd::Level;
using Pd::Cli::Console;
using Pd::Cli::HandleKind;

class ConsoleTest : public ::testing::Test
{
protected:
    std::unique_ptr<Console> Open()
    {
        return std::make_unique<Console>(std::make_unique<PdTest::FakeConsoleDevice>(state));
    }
    void Redirect()
    {
        state.outputKind = HandleKind::FileOrPipe;
        state.errorKind = HandleKind::FileOrPipe;
    }
    std::string OutputFile() const { return state.InFile(state.StdOutput); }

    PdTest::FakeConsoleState state;
};

// Pipes are classified in every end-to-end run; the NUL device is a character device.
TEST(ClassifyHandleTest, TheNulDeviceIsARedirectionAndMissingHandlesNone)
{
    EXPECT_EQ(Pd::Cli::ClassifyHandle(nullptr), HandleKind::None);
    EXPECT_EQ(Pd::Cli::ClassifyHandle(INVALID_HANDLE_VALUE), HandleKind::None);
    Pd::UniqueFile nul(
        ::CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(Pd::Cli::ClassifyHandle(nul.Get()), HandleKind::FileOrPipe);
}

// Where the streams go

TEST_F(ConsoleTest, RedirectedStreamsAreKeptAndNoConsoleIsAttachedOrPromptedFor)
{
    Redirect();
    Open()->Row(Level::Error, L"broken");
    EXPECT_EQ(state.InFile(state.StdError), "[FAIL] broken\r\n");
    EXPECT_EQ(state.attachCalls + state.allocateCalls + state.enterPresses + state.keyWaits + state.detaches,
              0);
}

TEST_F(ConsoleTest, OutputInAFileKeepsRowsPlainWhileFailuresAndProgressShowOnTheConsole)
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
    EXPECT_EQ(state.allocateCalls + state.keyWaits, 0);
    EXPECT_EQ(state.enterPresses, 1);
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

// Wine in a Unix terminal gives the process a console but no parent to attach to.
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
    Open()->Row(Level::Error, L"here");
    EXPECT_EQ(state.allocateCalls, 0);
    EXPECT_EQ(OutputFile(), "[FAIL] here\r\n");
}

// The progress line

TEST_F(ConsoleTest, ProgressIsDrawnOncePerIntervalAndOneHundredPercentAtOnceButOnlyOnce)
{
    for (bool toFile : {false, true})
    {
        SCOPED_TRACE(toFile ? "file" : "console");
        state = {};
        if (toFile)
            Redirect();
        auto console = Open();
        console->Progress(L"download", 0.1, L"a");
        state.now += toFile ? 999 : 99;
        console->Progress(L"download", 0.2, L"b");
        state.now += 1;
        console->Progress(L"download", 0.3, L"c");
        console->Progress(L"download", 1.5, L"d");
        console->Progress(L"download", 1.0, L"e");

        ASSERT_EQ(state.written.size(), 3u);
        std::string drawn[3];
        for (std::size_t at = 0; at < 3; ++at)
            drawn[at] = toFile ? state.written[at].bytes : Pd::Core::ToUtf8(state.written[at].text);
        EXPECT_NE(drawn[1].find("  30%  c"), std::string::npos);
        EXPECT_NE(drawn[2].find(" 100%  d"), std::string::npos);
        for (const std::string& line : drawn) // a console line is redrawn in place, a file gets lines
            EXPECT_TRUE(toFile ? line.ends_with("\r\n") : line.starts_with('\r') && !line.contains('\n'))
                << line;
        EXPECT_EQ(drawn[2].contains("\x1b[38;2;215;10;83m"), !toFile);
    }
}

TEST_F(ConsoleTest, ANewLabelOrFlushLineEndsTheOpenLineAndStartsAfresh)
{
    auto console = Open();
    console->Progress(L"first", 1.0, L"");
    console->FlushLine();
    console->Progress(L"first", 1.0, L""); // the same label is drawn again after FlushLine
    console->Progress(L"second", 0.5, L"");
    ASSERT_EQ(state.written.size(), 5u);
    EXPECT_EQ(state.written[1].text, L"\n");
    EXPECT_NE(state.written[2].text.find(L"first"), std::wstring::npos);
    EXPECT_EQ(state.written[3].text, L"\n");
    EXPECT_NE(state.written[4].text.find(L"second"), std::wstring::npos);

    console->SetProgressEnabled(false);
    console->Progress(L"other", 1.0, L"");
    EXPECT_EQ(state.written.size(), 5u);
}

TEST_F(ConsoleTest, ARowFirstBlanksAnOpenProgressLineAcrossTheWindow)
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

// The bar of an install stage follows the stage's bytes, not the position in the whole run.
TEST_F(ConsoleTest, InstallProgressShowsTheStageBytesAndSkipsReportsWithoutPositionOrBytes)
{
    Redirect();
    auto console = Open();
    Pd::Cli::ShowProgress(*console, {.stage = L"Downloading system",
                                     .position = 900,
                                     .bytesDone = 1 << 20,
                                     .bytesTotal = 4 << 20,
                                     .bytesPerSecond = 512 << 10});
    Pd::Cli::ShowProgress(*console, {.stage = L"Verifying", .position = -1, .bytesDone = 1, .bytesTotal = 2});
    Pd::Cli::ShowProgress(*console, {.stage = L"Unpacking", .position = 950});
    std::string line = OutputFile();
    EXPECT_TRUE(line.starts_with("  Downloading system")) << line;
    EXPECT_TRUE(line.ends_with("  25%  1.0 MB / 4.0 MB  512.0 KB/s\r\n")) << line;
}

TEST_F(ConsoleTest, WidthIsTheWindowsColumnsWithinFortyToTwoHundredAndEightyWithoutAConsole)
{
    auto console = Open();
    for (auto [columns, width] : {std::pair{std::optional(95), 95}, {30, 40}, {300, 200}, {std::nullopt, 80}})
    {
        state.columns = columns;
        EXPECT_EQ(console->Width(), width);
    }
    Redirect();
    state.columns = 150;
    EXPECT_EQ(Open()->Width(), 80);
}

} // namespace
