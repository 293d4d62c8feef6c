// Tovik's control through its client, with the stand-in client at the alias path recording how it
// was started, on simulated PCs.
#include "release/windows/TovikControl.h"

#include "core/Strings.h"
#include "platform/PackageManager.h"
#include "platform/sim/SimNetwork.h"
#include "platform/sim/Simulation.h"
#include "tests/core/ScratchFolder.h"
#include "tests/release/FakeClient.h"
#include "tests/release/Helpers.h"
#include "tests/support/SimScenario.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace
{

using PdTest::FakeClient;
using PdTest::ScratchFolder;

const std::string RunningVm =
    R"("computeSystems": [{"id": "2B1B9D9E-0A4C-4D3B-9E8F-7A6B5C4D3E2F", "owner": "TovikAndroid", "shutdown": true}])";

std::wstring CurrentFolder()
{
    wchar_t folder[MAX_PATH * 2] = {};
    ::GetCurrentDirectoryW(MAX_PATH * 2, folder);
    return folder;
}

// Tovik registered for this account from a folder, with the VM running that it brings.
std::string RegisteredTovik(const std::filesystem::path& folder, std::string_view extra = "")
{
    return "{" + RunningVm +
           PdTest::PackagesMember(
               PdTest::TovikPackage(folder.wstring(), R"("current")", R"(, "developmentMode": true)")) +
           std::string(extra) + "}";
}

// The install and the uninstall ask this account's running Tovik to shut down, through its client
// started with the user's rights by the desktop shell, and wait for its VM to end.
TEST(ShutdownTovik, AsksThisAccountsRunningTovikThroughTheUsersShellAndWaitsForItsVm)
{
    std::vector<std::wstring> log;
    const auto logLine = [&](const std::wstring& line) { log.push_back(line); };
    FakeClient client;
    ScratchFolder folder;
    {
        Pd::Test::SimScenario scenario(
            R"({"computeSystems": [{"id": "2B1B9D9E-0A4C-4D3B-9E8F-7A6B5C4D3E2F", "owner": "TovikAndroid", )"
            R"("account": "S-1-5-21-9-9-9-1001"}]})");
        Pd::Install::ShutdownTovik(folder.Path().wstring(), logLine);
        EXPECT_TRUE(log.empty() && client.Starts().empty()) << "another account's Tovik is not asked";
    }
    Pd::Test::SimScenario scenario("{" + RunningVm + "}");
    Pd::Install::ShutdownTovik(folder.Path().wstring(), logLine);
    EXPECT_EQ(log, std::vector<std::wstring>{L"Shutting Tovik down."});
    EXPECT_FALSE(Pd::Guest::FindOwnAndroidVm().vm) << "returned once the VM had ended";
    EXPECT_EQ(Pd::Platform::Sim::OpenedWebPages(scenario.Folder()),
              std::vector<std::wstring>{client.Alias() + L" /shutdown"});
    ASSERT_TRUE(Pd::Install::RequestTovikShutdown((folder.Path() / L"missing").wstring()));
    auto starts = client.Starts(2);
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(starts[0].commandLine, L"\"" + client.Alias() + L"\" /shutdown");
    EXPECT_EQ(starts[0].currentFolder, folder.Path().wstring());
    EXPECT_EQ(starts[1].currentFolder, CurrentFolder()) << "not a folder: the caller's";
}

TEST(Stop, AsksAndroidToShutDownThroughTheClientOnlyForThisAccountsTovik)
{
    FakeClient client;
    {
        Pd::Test::SimScenario scenario("{" + RunningVm + "}");
        EXPECT_EQ(Pd::Install::Stop(), Pd::Guest::VmStop::NotRunning) << "another account's VM";
        EXPECT_TRUE(client.Starts().empty());
    }
    ScratchFolder folder;
    Pd::Test::SimScenario scenario(RegisteredTovik(folder.Path()));
    EXPECT_EQ(Pd::Install::Stop(), Pd::Guest::VmStop::ShutDown);
    auto starts = client.Starts();
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].currentFolder, folder.Path().wstring()) << "the package's install location";
    EXPECT_EQ(Pd::Install::Stop(), Pd::Guest::VmStop::NotRunning) << "the VM has ended";
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

TEST(ReleaseVariant, IsTheTopLevelMemberOfAReleaseOfAnySize)
{
    const std::string longVariant(1 << 20, 'v');
    const std::pair<std::string, std::wstring> cases[] = {
        {R"({"variant": "Google Play"})", L"Google Play"},
        {R"({"app": {"variant": "Google"}, "variant": "AOSP"})", L"AOSP"},
        {R"({"variant": "Google)", L""}, // cut off
        {"{\"variant\": \"Google \xFF\"}", L""},
        {"{\"variant\": \"" + longVariant + "\"}", std::wstring(longVariant.begin(), longVariant.end())},
    };
    for (const auto& [release, variant] : cases)
        EXPECT_EQ(Pd::Install::ReleaseVariant(release), variant) << release.substr(0, 60);
}

TEST(OpenTovikStore, OpensTheStoreOnlyForAVariantNamingGoogleFromTheInstallFolder)
{
    struct Case
    {
        bool registered;
        const char* release; // null: no release.json
        const wchar_t* uri;
        bool settingsToo = false; // the settings open whatever the variant
    };
    const Case cases[] = {
        {true, R"({"variant": "Google Play"})", L"tovik://com.android.vending", true},
        {true, R"({"name":"x","variant" :"with google"})", L"tovik://com.android.settings"},
        {true, R"({"variant":""})", L"tovik://com.android.settings"},
        {true, nullptr, L"tovik://com.android.settings"},
        {false, R"({"variant": "Google Play"})", L"tovik://com.android.settings",
         true}, // the caller's folder
    };
    FakeClient client;
    std::size_t launches = 0;
    for (const Case& c : cases)
    {
        ScratchFolder folder;
        if (c.release)
            folder.Write(L"release.json", c.release);
        Pd::Test::SimScenario scenario(c.registered ? RegisteredTovik(folder.Path()) : "{}");
        const std::wstring where = c.registered ? folder.Path().wstring() : CurrentFolder();
        // Each launch is waited for: two clients started at once may record in either order.
        for (bool store : {true, false})
        {
            if (!store && !c.settingsToo)
                break;
            ASSERT_TRUE(store ? Pd::Install::OpenTovikStore() : Pd::Install::OpenTovikSettings());
            auto starts = client.Starts(++launches);
            ASSERT_EQ(starts.size(), launches);
            EXPECT_EQ(starts.back().commandLine, L"\"" + client.Alias() + L"\" /launch " +
                                                     (store ? c.uri : L"tovik://com.android.settings"))
                << (c.release ? c.release : "no release.json");
            EXPECT_EQ(starts.back().currentFolder, where);
        }
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

TEST(LaunchTovikUri, WithoutTheClientAliasTheUsersShellOpensTheUriOrTheStepFails)
{
    {
        Pd::Test::SimScenario scenario("{}"); // no program opens "tovik:" addresses
        EXPECT_EQ(PdTest::ErrorOf(Pd::Install::LaunchTovikUri(L"", L"com.android.settings")),
                  L"Opening tovik://com.android.settings: the shell could not open it (code 1155)");
        scenario.Write(R"({"shell": {"schemes": ["tovik"]}})");
        ASSERT_TRUE(Pd::Install::LaunchTovikUri(L"", L"com.android.settings"));
        EXPECT_EQ(Pd::Platform::Sim::OpenedWebPages(scenario.Folder()),
                  std::vector<std::wstring>{L"tovik://com.android.settings"});
    }
    // Without a simulated PC: Wine's desktop shell opens it, through the machine's "tovik" class.
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
