#include "core/release/TovikControl.h"

#include "core/Strings.h"
#include "platform/PackageManager.h"
#include "platform/sim/Simulation.h"
#include "tests/core/release/FakeClient.h"
#include "tests/core/ScratchFolder.h"
#include "tests/support/SimScenario.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <fmt/format.h>
#include <fmt/xchar.h>

namespace
{

using PdTest::FakeClient;
using PdTest::ScratchFolder;

std::wstring CurrentFolder()
{
    wchar_t folder[MAX_PATH * 2] = {};
    ::GetCurrentDirectoryW(MAX_PATH * 2, folder);
    return folder;
}

// Tovik registered for this account from a folder, with the VM running that it brings.
std::string RegisteredTovik(const std::filesystem::path& folder, std::string_view extra = "")
{
    std::string location = Pd::Core::ToUtf8(folder.wstring());
    std::string escaped;
    for (char c : location)
        escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return fmt::format(
        R"({{"packages":[{{"name":"TovikPackage","publisherId":"tv9kp7a3nqe2r","version":"1.0.0.0",
        "installLocation":"{}","developmentMode":true,"users":["current"]}}],
        "computeSystems":[{{"id":"2B1B9D9E-0A4C-4D3B-9E8F-7A6B5C4D3E2F","owner":"TovikAndroid","shutdown":true}}]{}}})",
        escaped, extra);
}

struct Lines
{
    std::vector<std::wstring> lines;
    Pd::Core::LogText Log()
    {
        return [this](const std::wstring& line) { lines.push_back(line); };
    }
};

TEST(TovikClientAlias, IsEmptyUntilTheAliasExists)
{
    std::filesystem::remove_all(PdTest::ClientAliasPath().parent_path());
    EXPECT_EQ(Pd::Install::TovikClientAlias(), L"");
    FakeClient client;
    EXPECT_EQ(Pd::Install::TovikClientAlias(), client.Alias());
}

TEST(ShutdownTovik, StartsTheClientInTheWorkingFolderAndWaitsForIt)
{
    FakeClient client;
    ScratchFolder folder;
    Lines log;
    Pd::Install::ShutdownTovik(folder.Path().wstring(), log.Log());
    EXPECT_EQ(log.lines, std::vector<std::wstring>{L"Shutting Tovik down."});
    auto starts = client.Starts();
    ASSERT_EQ(starts.size(), 1u) << "the client ended before the call returned";
    EXPECT_EQ(starts[0].commandLine, L"\"" + client.Alias() + L"\" /shutdown");
    EXPECT_EQ(starts[0].currentFolder, folder.Path().wstring());
}

TEST(ShutdownTovik, AWorkingFolderThatIsNoFolderLeavesTheCallersCurrentFolder)
{
    FakeClient client;
    ScratchFolder folder;
    auto file = folder.Write(L"file.txt", "x");
    Pd::Install::ShutdownTovik((folder.Path() / L"missing").wstring(), {});
    Pd::Install::ShutdownTovik(file.wstring(), {});
    auto starts = client.Starts();
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(starts[0].currentFolder, CurrentFolder());
    EXPECT_EQ(starts[1].currentFolder, CurrentFolder());
}

TEST(ShutdownTovik, WithoutTheClientNothingIsStartedOrLogged)
{
    Lines log;
    Pd::Install::ShutdownTovik(L"", log.Log());
    EXPECT_TRUE(log.lines.empty());
    EXPECT_FALSE(Pd::Install::StartTovikShutdown(L""));
}

TEST(Stop, AsksAndroidToShutDownThroughTheClient)
{
    ScratchFolder folder;
    Pd::Test::SimScenario scenario(RegisteredTovik(folder.Path()));
    FakeClient client;
    EXPECT_EQ(Pd::Install::Stop(), Pd::Guest::VmStop::ShutDown);
    auto starts = client.Starts();
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].currentFolder, folder.Path().wstring()) << "the package's install location";
    EXPECT_EQ(Pd::Install::Stop(), Pd::Guest::VmStop::NotRunning) << "the VM has ended";
}

TEST(Stop, AnAccountWithoutTovikIsNotRunningWhateverVmRuns)
{
    Pd::Test::SimScenario scenario(
        R"({"computeSystems":[{"id":"2B1B9D9E-0A4C-4D3B-9E8F-7A6B5C4D3E2F","owner":"TovikAndroid"}]})");
    FakeClient client;
    EXPECT_EQ(Pd::Install::Stop(), Pd::Guest::VmStop::NotRunning);
    EXPECT_TRUE(client.Starts().empty());
}

TEST(SeedTovikSettings, GivesMissingValuesFalseAndKeepsExistingOnes)
{
    ScratchFolder folder;
    Pd::Test::SimScenario scenario(RegisteredTovik(
        folder.Path(), R"(,"appSettings":{"TovikPackage_tv9kp7a3nqe2r":{"DeveloperModeEnabled":true}})"));
    Pd::Install::SeedTovikSettings();
    const auto settings = Pd::Platform::Sim::StateStore(scenario.Folder())
                              .Read()
                              .Member(L"appSettings")
                              .Member(Pd::Install::TovikFamilyName);
    EXPECT_EQ(settings.Member(L"DeveloperModeEnabled").AsBool(), true);
    EXPECT_EQ(settings.Member(L"OptionalDiagnosticDataEnabled").AsBool(), false);
}

TEST(OpenTovikStore, OpensTheStoreOnlyForAVariantNamingGoogle)
{
    struct Case
    {
        const char* release; // null: no release.json
        const wchar_t* uri;
    };
    const Case cases[] = {
        {R"({"variant": "Google Play"})", L"tovik://com.android.vending"},
        {R"({"name":"x","variant" :"with google"})", L"tovik://com.android.settings"},
        {R"({"variant":""})", L"tovik://com.android.settings"},
        {nullptr, L"tovik://com.android.settings"},
    };
    FakeClient client;
    std::size_t launches = 0;
    for (const Case& c : cases)
    {
        ScratchFolder folder;
        if (c.release)
            folder.Write(L"release.json", c.release);
        Pd::Test::SimScenario scenario(RegisteredTovik(folder.Path()));
        ASSERT_TRUE(Pd::Install::OpenTovikStore());
        auto starts = client.Starts(++launches);
        ASSERT_EQ(starts.size(), launches);
        EXPECT_EQ(starts.back().commandLine, L"\"" + client.Alias() + L"\" /launch " + c.uri)
            << (c.release ? c.release : "no release.json");
        EXPECT_EQ(starts.back().currentFolder, folder.Path().wstring());
    }
}

TEST(OpenTovikSettings, WithoutARegistrationOpensTheSettingsFromTheCallersFolder)
{
    Pd::Test::SimScenario scenario("{}");
    FakeClient client;
    ASSERT_TRUE(Pd::Install::OpenTovikStore());
    ASSERT_TRUE(Pd::Install::OpenTovikSettings());
    auto starts = client.Starts(2);
    ASSERT_EQ(starts.size(), 2u);
    for (const auto& start : starts)
    {
        EXPECT_EQ(start.commandLine, L"\"" + client.Alias() + L"\" /launch tovik://com.android.settings");
        EXPECT_EQ(start.currentFolder, CurrentFolder());
    }
}

// The "tovik" URL protocol, handled by a program, for one test (Wine's shell reads the machine's
// classes only).
class TovikProtocol
{
public:
    explicit TovikProtocol(const std::wstring& handler)
    {
        const std::wstring command = L"\"" + handler + L"\" \"%1\"";
        ::RegSetKeyValueW(HKEY_CLASSES_ROOT, Key, L"URL Protocol", REG_SZ, L"", sizeof(wchar_t));
        ::RegSetKeyValueW(HKEY_CLASSES_ROOT, (std::wstring(Key) + L"\\shell\\open\\command").c_str(), nullptr,
                          REG_SZ, command.c_str(),
                          static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
    }
    ~TovikProtocol()
    {
        ::RegDeleteTreeW(HKEY_CLASSES_ROOT, Key);
        ::RegDeleteKeyW(HKEY_CLASSES_ROOT, Key);
    }

private:
    static constexpr const wchar_t* Key = L"tovik";
};

TEST(LaunchTovikUri, WithoutTheClientAliasTheShellOpensTheUriOrTheStepFails)
{
    Pd::Test::SimScenario scenario("{}");
    auto unhandled = Pd::Install::LaunchTovikUri(L"", L"com.android.settings");
    ASSERT_FALSE(unhandled) << "nothing in this prefix handles tovik://";
    EXPECT_TRUE(unhandled.error().starts_with(L"Opening tovik://com.android.settings: "))
        << Pd::Core::ToUtf8(unhandled.error());
    ScratchFolder folder;
    FakeClient handler(folder.Path() / L"handler" / L"TovikClient.exe");
    TovikProtocol protocol(handler.Alias());
    ASSERT_EQ(Pd::Install::TovikClientAlias(), L"");
    auto launched = Pd::Install::LaunchTovikUri(L"", L"com.android.settings");
    ASSERT_TRUE(launched) << Pd::Core::ToUtf8(launched.error());
    auto starts = handler.Starts(1);
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_NE(starts[0].commandLine.find(L"tovik://com.android.settings"), std::wstring::npos)
        << Pd::Core::ToUtf8(starts[0].commandLine);
}

} // namespace
