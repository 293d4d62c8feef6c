#include "cli/Console.h"
#include "core/Handles.h"
#include "core/Strings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace
{

// A console device with standard handles of chosen kinds, a settable clock and window width, and a
// record of every write, in order.
struct FakeConsoleState
{
    static inline const HANDLE StdOutput = reinterpret_cast<HANDLE>(0x10);
    static inline const HANDLE StdError = reinterpret_cast<HANDLE>(0x20);
    static inline const HANDLE ConsoleOutput = reinterpret_cast<HANDLE>(0x30);

    // What the process starts with.
    Pd::Cli::HandleKind outputKind = Pd::Cli::HandleKind::None;
    Pd::Cli::HandleKind errorKind = Pd::Cli::HandleKind::None;
    bool parentConsole = true; // AttachConsole succeeds
    bool shown = true;         // the starter asked for a visible window
    std::optional<int> columns = 95;
    std::uint64_t now = 10'000;

    // What the console did.
    struct Written
    {
        HANDLE handle;
        std::wstring text; // console writes
        std::string bytes; // file and pipe writes
    };
    std::vector<Written> written;
    int attachCalls = 0, allocateCalls = 0, keyWaits = 0, enterPresses = 0, detaches = 0;
    std::wstring title;

    std::wstring OnConsole() const
    {
        std::wstring all;
        for (const Written& item : written)
            all += item.handle == ConsoleOutput ? item.text : L"";
        return all;
    }
    std::string InFile(HANDLE handle) const
    {
        std::string all;
        for (const Written& item : written)
            all += item.handle == handle ? item.bytes : "";
        return all;
    }
};

class FakeConsoleDevice final : public Pd::Cli::ConsoleDevice
{
public:
    explicit FakeConsoleDevice(FakeConsoleState& state) : s_(state) {}

    HANDLE StdHandle(DWORD which) override { return which == STD_OUTPUT_HANDLE ? s_.StdOutput : s_.StdError; }
    Pd::Cli::HandleKind Classify(HANDLE handle) override
    {
        return handle == s_.StdOutput ? s_.outputKind : s_.errorKind;
    }
    bool AttachToParent() override { return ++s_.attachCalls, s_.parentConsole; }
    bool StartedToBeShown() override { return s_.shown; }
    bool Allocate() override { return ++s_.allocateCalls, true; }
    HANDLE OpenConsoleOutput() override { return s_.ConsoleOutput; }
    bool EnableEscapeSequences(HANDLE) override { return true; }
    void SetTitle(std::wstring_view title) override { s_.title = title; }
    void WriteText(HANDLE console, std::wstring_view text) override
    {
        s_.written.push_back({console, std::wstring(text), {}});
    }
    void WriteBytes(HANDLE file, std::string_view bytes) override
    {
        s_.written.push_back({file, {}, std::string(bytes)});
    }
    std::optional<int> WindowColumns(HANDLE) override { return s_.columns; }
    std::uint64_t TickCount() override { return s_.now; }
    void WaitForKey() override { ++s_.keyWaits; }
    void PressEnter() override { ++s_.enterPresses; }
    void CloseConsoleOutput() override {}
    void Detach() override { ++s_.detaches; }

private:
    FakeConsoleState& s_;
};

using Pd::Level;
using Pd::Cli::Console;
using Pd::Cli::HandleKind;

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

// Pipes are classified in every end-to-end run; the NUL device is a character device.
TEST(ClassifyHandleTest, TheNulDeviceIsARedirectionAndMissingHandlesNone)
{
    EXPECT_EQ(Pd::Cli::ClassifyHandle(nullptr), HandleKind::None);
    EXPECT_EQ(Pd::Cli::ClassifyHandle(INVALID_HANDLE_VALUE), HandleKind::None);
    Pd::UniqueFile nul(
        ::CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(Pd::Cli::ClassifyHandle(nul.Get()), HandleKind::FileOrPipe);
}

// Which standard handles the program was given and whether its parent has a console decide where
// an info row and a failure row land and how the run ends.
TEST_F(ConsoleTest, RowsGoWhereTheStreamsPointAndTheRunEndsAsItsConsoleNeeds)
{
    struct Case
    {
        const char* start;
        HandleKind output, error;
        bool parent, shown;
        HANDLE info, failure;
        int attach, allocate, enter, keyWaits, detaches;
    };
    const HANDLE out = state.StdOutput, err = state.StdError, con = state.ConsoleOutput;
    const auto file = HandleKind::FileOrPipe, console = HandleKind::Console, none = HandleKind::None;
    for (const Case& c : {
             Case{"both redirected: kept, no console touched", file, file, true, true, out, err, 0, 0, 0, 0,
                  0},
             Case{"output in a file, error a console", file, console, true, true, out, con, 1, 0, 1, 0, 1},
             Case{"no streams: the parent's console", none, none, true, true, con, con, 1, 0, 1, 0, 1},
             Case{"no streams, no parent: a console of its own", none, none, false, true, con, con, 1, 1, 0,
                  1, 1},
             Case{"started hidden or detached: nothing opens, nothing waits", none, none, false, false,
                  nullptr, nullptr, 1, 0, 0, 0, 0},
             Case{"a given console without a parent, as Wine in a terminal", console, console, false, true,
                  out, err, 1, 0, 0, 0, 0},
             Case{"one redirected stream and no parent serves both", file, none, false, true, out, out, 1, 0,
                  0, 0, 0},
         })
    {
        SCOPED_TRACE(c.start);
        state = {};
        std::tie(state.outputKind, state.errorKind, state.parentConsole, state.shown) =
            std::tuple(c.output, c.error, c.parent, c.shown);
        auto opened = Open();
        opened->Row(Level::Info, L"a");
        opened->Row(Level::Error, L"b");
        opened->Close();
        opened.reset(); // the destructor does not close again

        std::vector<HANDLE> targets;
        for (std::size_t at = 0; at < std::min<std::size_t>(2, state.written.size()); ++at)
            targets.push_back(state.written[at].handle); // the two rows; a closing line may follow
        EXPECT_EQ(targets, (c.info ? std::vector<HANDLE>{c.info, c.failure} : std::vector<HANDLE>{}));
        EXPECT_EQ(std::tuple(state.attachCalls, state.allocateCalls, state.enterPresses, state.keyWaits,
                             state.detaches),
                  std::tuple(c.attach, c.allocate, c.enter, c.keyWaits, c.detaches));
    }
}

// UTF-8 with CR LF in files and pipes is checked by the end-to-end runs.
TEST_F(ConsoleTest, RowsAreColouredOnlyWhenTheOutputIsAConsole)
{
    auto console = Open();
    console->Row(Level::Info, L"a");
    console->Row(Level::Success, L"b");
    console->Row(Level::Warning, L"c");
    console->Row(Level::Error, L"d");
    EXPECT_EQ(state.OnConsole(), L"\x1b[90m[INFO]\x1b[0m a\n\x1b[32m[ OK ]\x1b[0m b\n"
                                 L"\x1b[33m[WARN]\x1b[0m c\n\x1b[91m[FAIL]\x1b[0m d\n");

    state = {};
    state.outputKind = HandleKind::FileOrPipe;
    Open()->Row(Level::Error, L"d");
    EXPECT_EQ(state.OnConsole(), L"[FAIL] d\n");
}

TEST_F(ConsoleTest, ControlCharactersInARowAreShownEscaped)
{
    Redirect();
    Open()->Row(Level::Error, std::wstring(L"a\0b\x1b[31mc\r\nd\x7f\x85 C:\\x\u00e9", 20));
    EXPECT_EQ(state.InFile(state.StdError),
              "[FAIL] a\\x00b\\x1b[31mc\\x0d\\x0ad\\x7f\\x85 C:\\x\xC3\xA9\r\n");
}

TEST_F(ConsoleTest, AConsoleThatOpensItsOwnWindowTitlesItAndAsksForAKey)
{
    state.parentConsole = false;
    Open().reset();
    EXPECT_EQ(state.title, L"Peldra");
    EXPECT_EQ(state.OnConsole(), L"\nPress any key to close this window.");
}

// A console line is redrawn in place at most every 100 ms; a file gets a line at most once a second.
TEST_F(ConsoleTest, ProgressIsDrawnOncePerIntervalAndOneHundredPercentAtOnceButOnlyOnce)
{
    for (bool toFile : {false, true})
    {
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

        std::string drawn = toFile ? OutputFile() : Pd::Core::ToUtf8(state.OnConsole());
        EXPECT_EQ(state.written.size(), 3u) << drawn;
        std::string end = toFile ? "\r\n" : "";
        EXPECT_NE(drawn.find("  30%  c" + end), std::string::npos) << drawn;
        EXPECT_NE(drawn.find(" 100%  d" + end), std::string::npos) << drawn;
        EXPECT_EQ(std::ranges::count(drawn, '\r'), 3) << drawn; // a console redraw starts with CR
        EXPECT_EQ(drawn.find('\n') == std::string::npos, !toFile) << drawn;
        EXPECT_EQ(drawn.contains("\x1b[38;2;215;10;83m"), !toFile) << "the bar is coloured on a console only";
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

TEST_F(ConsoleTest, WidthIsTheWindowsColumnsWithinFortyToTwoHundredAndEightyWithoutAConsole)
{
    auto console = Open();
    for (auto [columns, width] : {std::pair{std::optional(95), 95}, {30, 40}, {300, 200}, {std::nullopt, 80}})
    {
        state.columns = columns;
        EXPECT_EQ(console->Width(), width);
    }
    Redirect();
    EXPECT_EQ(Open()->Width(), 80);
}

} // namespace
