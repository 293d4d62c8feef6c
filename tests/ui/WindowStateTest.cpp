#include "core/Text.h"
#include "platform/sim/SimNetwork.h"
#include "tests/support/SimScenario.h"
#include "ui/CommandState.h"
#include "ui/FolderChoice.h"
#include "ui/HostRows.h"
#include "ui/MainLayout.h"
#include "ui/ProgressText.h"
#include "ui/WorkerMessages.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace Pd::Ui
{
namespace
{

CommandState Ready()
{
    CommandState s;
    s.facts = true;
    s.build = 22631;
    s.package = true;
    s.manifest = true;
    s.variant = L"GoogleApps";
    s.programVersion = L"1.4.0";
    s.bluetoothAdapter = 0x1122;
    return s;
}

TEST(CommandState, RulesFollowTheOperationAndTheFacts)
{
    struct Row
    {
        const char* name;
        void (*change)(CommandState&);
        unsigned id;
        bool enabled;
    } rows[] = {
        {"install when ready", [](CommandState&) {}, 1000, true},
        {"install during a check", [](CommandState& s) { s.checking = true; }, 1000, false},
        {"launch during a check", [](CommandState& s) { s.checking = true; }, 1002, true},
        {"source during a check", [](CommandState& s) { s.checking = true; }, 1008, false},
        {"install on Windows 10", [](CommandState& s) { s.build = 19045; }, 1000, false},
        {"install without a release", [](CommandState& s) { s.manifest = false; }, 1000, false},
        {"install needing a newer program", [](CommandState& s) { s.minimumProgram = L"1.10"; }, 1000, false},
        {"install with an older minimum", [](CommandState& s) { s.minimumProgram = L"1.3.9"; }, 1000, true},
        {"cancel while idle", [](CommandState&) {}, 1001, false},
        {"cancel an install", [](CommandState& s) { s.busy = true; }, 1001, true},
        {"cancel an uninstall", [](CommandState& s) { s.busy = s.uninstalling = true; }, 1001, false},
        {"uninstall without a state file", [](CommandState&) {}, 1019, false},
        {"uninstall with one", [](CommandState& s) { s.stateFileInFolder = true; }, 1019, true},
        {"bluetooth on without an adapter", [](CommandState& s) { s.bluetoothAdapter = 0; }, 1020, false},
        {"bluetooth on twice", [](CommandState& s) { s.bridgeOn = true; }, 1020, false},
        {"su while magisk is on", [](CommandState& s) { s.elevation = s.elevationMagisk = true; }, 1027,
         false},
        {"su with root", [](CommandState& s) { s.elevation = true; }, 1027, true},
        {"register without google", [](CommandState& s) { s.variant = L"Googl"; }, 1034, false},
        {"register before a release", [](CommandState& s) { s.manifest = false; }, 1034, true},
        {"app update offered", [](CommandState& s) { s.appUpdate = true; }, 1036, true},
        {"copy an empty log", [](CommandState&) {}, 1014, false},
        {"language always", [](CommandState& s) { s.busy = true; }, 1150, true},
    };
    for (const auto& row : rows)
    {
        CommandState s = Ready();
        row.change(s);
        EXPECT_EQ(IsCommandEnabled(row.id, s), row.enabled) << row.name;
    }
}

TEST(ProgressText, LinesOfReportsAndDurations)
{
    Pd::Core::Progress report;
    report.stage = L"Checking";
    EXPECT_EQ(FormatProgressLine(report), L"Checking\u2026");
    report = {L"Downloading", 505, 2, 3, 1048576, 3145728, 0, 0};
    std::wstring line = FormatProgressLine(report);
    EXPECT_TRUE(line.starts_with(L"50%  \u00B7  2/3  Downloading  \u00B7  ")) << line;
    EXPECT_EQ(line.find(L"/s"), std::wstring::npos);
    report.remainingSeconds = 59;
    EXPECT_TRUE(FormatProgressLine(report).ends_with(L"  \u00B7  " +
                                                     Pd::Core::FormatText(Pd::TextId::TimeLeft, L"0:59")));
    EXPECT_EQ(FormatDuration(3725.9), L"1:02:05");
    EXPECT_EQ(FormatDuration(std::numeric_limits<double>::infinity()), L"0:00");
    EXPECT_EQ(ByteProgressReport(L"x", 5, 10).position, 500);
    EXPECT_EQ(ByteProgressReport(L"x", 20, 10).position, 1000); // a server that sent too much
    EXPECT_EQ(ByteProgressReport(L"x", 5, 0).position, -1);
}

TEST(ProgressText, ALineShowsAtOnceForANewStageElseAtItsPace)
{
    ProgressLinePace pace;
    const std::uint64_t period = ProgressLinePace::PeriodMs;
    struct Row
    {
        const wchar_t* stage;
        std::uint64_t at;
        bool shows;
    } rows[] = {
        {L"Downloading", 1000, true},          // the first
        {L"Downloading", 1001, false},         // the next report of a fast transfer waits
        {L"Downloading", 999 + period, false}, // still inside the period of the one shown
        {L"Unpacking", 1002 + period, true},   // a new stage at once, and a new period starts
        {L"Unpacking", 1001 + 2 * period, false},
        {L"Unpacking", 1002 + 2 * period, true},
    };
    for (const auto& row : rows)
        EXPECT_EQ(pace.Take(row.stage, row.at), row.shows) << row.at;
    pace.Reset();
    EXPECT_TRUE(pace.Take(L"Unpacking", 1003 + 2 * period)); // a new operation's first
}

TEST(HostRows, ToneAndNoteFollowTheFacts)
{
    EXPECT_EQ(HostRows({}).size(), 5u); // all "reading…" before the facts
    Pd::Core::WindowsInfo windows;
    windows.build = 28100;
    windows.virtualMachinePlatform = false;
    HostFacts facts;
    facts.windows = &windows;
    auto rows = HostRows(facts);
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[0].tone, Tone::Attention);
    EXPECT_EQ(rows[0].note, Pd::Core::Text(Pd::TextId::TovikPatchNeeded));
    EXPECT_EQ(rows[1].note, Pd::Core::Text(Pd::TextId::EnabledRestartNeeded));
    EXPECT_EQ(rows[4].value, Pd::Core::Text(Pd::TextId::StillReading)); // Bluetooth waits for the first check
    windows.build = 19045;
    windows.installedPackage = Pd::Install::PackageInfo{L"Tovik_1", L"2407.1.0.0", L"C:\\Tovik", true};
    facts.releaseChecked = true;
    facts.bluetoothAdapter = 1;
    facts.bridgeOn = true;
    facts.startWithWindows = true;
    facts.showsRegistration = true;
    rows = HostRows(facts);
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(rows[0].tone, Tone::Bad);
    EXPECT_EQ(rows[3].value,
              Pd::Core::FormatText(Pd::TextId::VersionFromSource, L"2407.1.0.0", L"C:\\Tovik"));
    EXPECT_EQ(rows[4].value, Pd::Core::Text(Pd::TextId::OnWaitingForAndroid));
    EXPECT_EQ(rows[4].note, Pd::Core::Text(Pd::TextId::StartsWithWindows));
    EXPECT_TRUE(rows[5].reservesRegister);
    facts.releaseState = 4;
    EXPECT_EQ(HostRows(facts)[4].value, Pd::Core::Text(Pd::TextId::OfficialReleaseOnly));
    facts.helloBridgeHolder = L"S-1-5-21-1-2-3-1001";
    rows = HostRows(facts);
    ASSERT_EQ(rows.size(), 7u);
    EXPECT_EQ(rows[6].value, Pd::Core::FormatText(Pd::TextId::HelloBridgeBlocked, L"S-1-5-21-1-2-3-1001"));
    EXPECT_EQ(rows[6].tone, Tone::Bad);
}

TEST(FolderChoice, ManifestAddressesAndPickedFolders)
{
    struct Row
    {
        const wchar_t* address;
        bool accepted;
    } rows[] = {{L"https://example.org/m.json", true},
                {L"http://localhost/", false},
                {L"http://localhost/m.json", true},
                {L"HTTPS://example.org/m.json", false},
                {L"http://localhost:8080/m.json", false},
                {L"http://127.0.0.1/a", true},
                {L"", false}};
    for (const auto& row : rows)
        EXPECT_EQ(!ValidateManifestUrl({row.address}).has_value(), row.accepted) << row.address;
    EXPECT_EQ(ParentFolder(L"C:\\A\\\\B"), L"C:\\A");

    auto root = std::filesystem::temp_directory_path() / "pd-folder-choice";
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root / "empty");
    std::filesystem::create_directories(root / "installed");
    std::ofstream(root / "installed" / "peldra.json") << "{}";
    std::filesystem::create_directories(root / "full" / "x");
    EXPECT_EQ(InstallFolderForChoice((root / "empty").wstring()), (root / "empty").wstring());
    EXPECT_EQ(InstallFolderForChoice((root / "installed").wstring()), (root / "installed").wstring());
    EXPECT_EQ(InstallFolderForChoice((root / "full").wstring()), (root / "full").wstring() + L"\\Peldra");
    std::filesystem::remove_all(root);
}

// "Open install folder" takes the folder from the user's settings, which the user's unelevated
// programs can change: a file or program there is refused and named, never opened; a folder is
// opened by the user's own shell.
TEST(FolderChoice, OnlyAFolderIsOpenedAsTheInstallFolder)
{
    Pd::Test::SimScenario pc("{}");
    const auto root = std::filesystem::temp_directory_path() / "pd-open-install-folder";
    std::filesystem::create_directories(root);
    std::ofstream(root / "cmd.exe") << "MZ";
    for (const std::filesystem::path& wrong : {root / "cmd.exe", root / "missing", std::filesystem::path()})
    {
        auto refused = OpenInstallFolder(wrong.wstring());
        ASSERT_FALSE(refused);
        EXPECT_EQ(refused.error(),
                  Pd::Core::FormatText(Pd::TextId::InstallFolderIsNotFolder, wrong.wstring()));
    }
    EXPECT_TRUE(Pd::Platform::Sim::OpenedWebPages(pc.Folder()).empty());
    ASSERT_TRUE(OpenInstallFolder(root.wstring()));
    EXPECT_EQ(Pd::Platform::Sim::OpenedWebPages(pc.Folder()), std::vector<std::wstring>{root.wstring()});
    std::filesystem::remove_all(root);
}

// At the minimum height the window allows, the log pane keeps its own minimum beside cards that
// hold every component row.
TEST(MainLayout, TheMinimumHeightLeavesRoomForTheLog)
{
    for (int components : {0, 7, 12})
        for (bool logVisible : {false, true})
        {
            MainLayoutInput in;
            in.right = 560;
            in.height = MinimumClientHeight(components, logVisible);
            in.logVisible = logVisible;
            MainLayout layout = LayOutMainWindow(in);
            float rows = std::max(components, 7) * 24.0f + 58;
            EXPECT_GE(layout.componentsCard.bottom - layout.componentsCard.top + 4, rows) << components;
            EXPECT_GE(layout.logButton.top, layout.componentsCard.bottom);
            if (logVisible)
            {
                EXPECT_GE(layout.logPane.bottom - layout.logPane.top, 110 - 4 - 4) << components;
            }
        }
}

} // namespace
} // namespace Pd::Ui
