// What an install run test needs: a simulated Windows 11 PC that trusts the test publisher, a
// signed test release of its own on the loopback server, an install folder, a program copy into
// a scratch "Program Files" with recorded host controls, and callbacks that record everything
// and answer questions as told. Developer mode, the per-user feature values and the settings
// shortcut are put back afterwards (the Wine prefix is shared).
#pragma once

#include "core/Strings.h"
#include "release/download/ManifestLoader.h"
#include "release/install/InstallRun.h"
#include "release/windows/SettingsShortcut.h"
#include "tests/core/ScratchFolder.h"
#include "tests/release/Helpers.h"
#include "tests/release/LoopbackServer.h"
#include "tests/release/UserValues.h"
#include "tests/support/SigningFixtures.h"
#include "tests/support/SimScenario.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

namespace PdTest
{

namespace fs = std::filesystem;

struct LoggedLine
{
    Pd::Level level;
    std::wstring text;
};

class InstallTest : public SigningTest
{
protected:
    void SetUp() override
    {
        SigningTest::SetUp();
        ASSERT_TRUE(LoopbackServer::Get().Running()) << "PD_RELEASE_SERVER is not set";
        Serve(L"road");
        program_.runningExe = (scratch_.Path() / L"bin" / L"Peldra-test.exe").wstring();
        WriteBytes(program_.runningExe, "the running program");
        program_.defaultFolder = (scratch_.Path() / L"Program Files" / L"Peldra").wstring();
        program_.installedByPackage = [] { return false; };
        program_.setTaskRegistered = [this](bool on) -> Pd::Result<> {
            hostCalls_.push_back(on ? L"register task" : L"remove task");
            return {};
        };
        program_.stopHost = [this] { hostCalls_.push_back(L"stop host"); };
        program_.startHost = [this]() -> Pd::Result<> {
            hostCalls_.push_back(L"start host");
            return {};
        };
        // The stand-in program is no running image: it is opened as it is.
        program_.openRunningExe = [](const std::wstring& path) -> Pd::Result<Pd::UniqueFile> {
            Pd::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                              OPEN_EXISTING, 0, nullptr));
            return file ? Pd::Result<Pd::UniqueFile>(std::move(file)) : Pd::Fail(L"cannot open " + path);
        };
        ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    }

    void TearDown() override
    {
        for (const auto& path : Pd::Install::FindTovikSettingsShortcuts())
            ::DeleteFileW(path.c_str());
        ::CoUninitialize();
    }

    // Serves a copy of one built signed release in this test's own folder on the server.
    void Serve(const std::wstring& release)
    {
        fs::create_directories(served_.File(release));
        for (const auto& file : fs::directory_iterator(LoopbackServer::Get().File(L"signed/" + release)))
            if (file.is_regular_file())
                fs::copy_file(file.path(), served_.File(release + L"/" + file.path().filename().wstring()),
                              fs::copy_options::overwrite_existing);
    }

    std::wstring ManifestUrl(const std::wstring& release = L"road") const
    {
        return served_.Url(release + L"/manifest.json");
    }

    // A simulated Windows 11 PC for the rest of the test, trusting the test publisher, whose
    // packages get Tovik's family.
    std::string Scenario(std::string_view extra = "", std::string_view windows = R"("build": 22631)") const
    {
        std::string trust = TrustingScenario(PublisherPinsOf(L"test"));
        trust.pop_back(); // the closing brace
        return trust + R"(, "publisherIds": {"CN=Ormel Test": "tv9kp7a3nqe2r"}, "windows": {)" +
               std::string(windows) + "}" + std::string(extra) + "}";
    }
    void Pc(std::string_view extra = "", std::string_view windows = R"("build": 22631)")
    {
        pc_.emplace(Scenario(extra, windows));
    }

    Pd::Core::Manifest Load(const std::wstring& release = L"road")
    {
        auto manifest = Pd::Core::LoadManifest(ManifestUrl(release), {}, 10'000, 20'000);
        EXPECT_TRUE(manifest) << Pd::Core::ToUtf8(manifest.error());
        EXPECT_TRUE(manifest && manifest->isSigned);
        return manifest ? std::move(*manifest) : Pd::Core::Manifest{};
    }

    Pd::Core::Options Options(bool registerPackage = true, bool keepDownloads = false) const
    {
        return {PdTest::InFolder(folder_), registerPackage, keepDownloads};
    }

    Pd::Core::Callbacks Callbacks()
    {
        progress_.clear();
        log_.clear();
        questions_.clear();
        hostCalls_.clear();
        return {[this](const Pd::Core::Progress& progress) {
                    std::lock_guard guard(lock_);
                    progress_.push_back(progress);
                    if (onProgress_)
                        onProgress_(progress);
                },
                [this](Pd::Level level, const std::wstring& text) {
                    std::lock_guard guard(lock_);
                    log_.push_back({level, text});
                    if (onLog_)
                        onLog_(text);
                },
                [this](const std::wstring& question) {
                    questions_.push_back(question);
                    return answer_;
                }};
    }

    Pd::Result<Pd::Core::Outcome> Install(const Pd::Core::Manifest& manifest,
                                          const Pd::Core::Options& options, std::stop_token stop = {})
    {
        return Pd::Core::Detail::RunWith(manifest, options, Callbacks(), stop, program_);
    }

    // Whether a line of that level was logged that is the text, or starts with it when it ends
    // with "...".
    bool Logged(const std::wstring& text, Pd::Level level) const
    {
        return std::ranges::any_of(
            log_, [&](const LoggedLine& line) { return line.level == level && Matches(line.text, text); });
    }
    void ExpectLogged(std::initializer_list<std::wstring> lines, Pd::Level level) const
    {
        for (const std::wstring& line : lines)
            EXPECT_TRUE(Logged(line, level)) << Pd::Core::ToUtf8(line);
    }

    std::vector<std::wstring> Stages() const
    {
        std::vector<std::wstring> stages;
        for (const auto& progress : progress_)
            stages.push_back(progress.stage);
        return stages;
    }

    // The requests the server saw for one file of a served release.
    std::size_t Requests(const std::wstring& release, const std::wstring& file) const
    {
        return served_.Requests(release + L"/" + file).size();
    }

    // The ".new" files left anywhere below the install folder.
    std::size_t Temporaries() const
    {
        std::size_t found = 0;
        std::error_code ignored;
        for (fs::recursive_directory_iterator it(folder_, ignored), end; it != end; it.increment(ignored))
            found += it->path().extension() == L".new" ? 1 : 0;
        return found;
    }

    std::optional<Pd::Test::SimScenario> pc_;
    ScratchFolder scratch_;
    ServedFolder served_;
    fs::path folder_ = scratch_.Path() / L"Tovik";
    Pd::Core::Detail::ProgramSetting program_;
    DeveloperModeSetting developerMode_{true};
    UserValues userValues_{{L"EnabledDeveloperMode", L"EnabledVirtualMachinePlatform", L"InstallFolder"}};
    MachineRecords machineRecords_;

    std::mutex lock_;
    std::vector<Pd::Core::Progress> progress_;
    std::vector<LoggedLine> log_;
    std::vector<std::wstring> questions_;
    std::vector<std::wstring> hostCalls_;
    bool answer_ = true;
    std::function<void(const Pd::Core::Progress&)> onProgress_;
    std::function<void(const std::wstring&)> onLog_;
};

} // namespace PdTest
