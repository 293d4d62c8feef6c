// Verifying an installed release on a simulated PC that trusts the test publisher, against
// releases that the test-release builder signed and laid out as an install run leaves them.
#include "release/verify/ReleaseVerification.h"

#include "core/Handles.h"
#include "core/Strings.h"
#include "release/manifest/Trust.h"
#include "tests/core/ScratchFolder.h"
#include "tests/release/LoopbackServer.h"
#include "tests/release/UserValues.h"
#include "tests/support/HangLimit.h"
#include "tests/support/SigningFixtures.h"
#include "tests/support/SimScenario.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

namespace
{

namespace fs = std::filesystem;
using Pd::Core::ReleaseState;

class ReleaseVerification : public PdTest::SigningTest
{
protected:
    // A copy of one built release's install folder.
    fs::path Installed(const std::wstring& release)
    {
        const fs::path folder = scratch_.Path() / release;
        fs::remove_all(folder);
        fs::copy(PdTest::LoopbackServer::Get().File(L"signed/" + release + L"/installed"), folder,
                 fs::copy_options::recursive);
        return folder;
    }

    ReleaseState Verify(const fs::path& folder, std::stop_token stop = {})
    {
        return Pd::Core::VerifyRelease(Pd::Core::InstallFolder::From(folder.wstring()), stop);
    }

    Pd::Test::SimScenario pc_{PdTest::TrustingScenario(PdTest::PublisherPinsOf(L"test"))};
    PdTest::ScratchFolder scratch_;
};

TEST_F(ReleaseVerification, EveryFileWithADigestIsCheckedAgainstTheSignedManifest)
{
    struct Case
    {
        const wchar_t* release;
        const char* change;
        std::function<void(const fs::path&)> apply;
        ReleaseState state;
    };
    const Case cases[] = {
        // The optional kernel was never installed and the archive is not verified.
        {L"complete", "untouched", [](const fs::path&) {}, ReleaseState::Verified},
        {L"complete", "one bit of the disk changed",
         [](const fs::path& folder) {
             std::string image = PdTest::ReadBytes(folder / L"system.vhdx");
             image[image.size() / 2] ^= 1;
             PdTest::WriteBytes(folder / L"system.vhdx", image);
         },
         ReleaseState::Modified},
        {L"complete", "the disk removed", [](const fs::path& folder) { fs::remove(folder / L"system.vhdx"); },
         ReleaseState::Modified},
        {L"complete", "another optional kernel",
         [](const fs::path& folder) {
             PdTest::WriteBytes(folder / L"tools" / L"kernel", "not the kernel\n");
         },
         ReleaseState::Modified},
        {L"complete", "the optional kernel installed",
         [](const fs::path& folder) { PdTest::WriteBytes(folder / L"tools" / L"kernel", "kernel\n"); },
         ReleaseState::Verified},
        {L"complete", "one byte more in the manifest",
         [](const fs::path& folder) {
             PdTest::WriteBytes(folder / L"release.json", PdTest::ReadBytes(folder / L"release.json") + " ");
         },
         ReleaseState::Unverifiable},
        {L"complete", "no catalog", [](const fs::path& folder) { fs::remove(folder / L"release.cat"); },
         ReleaseState::Unverifiable},
        {L"unsigned", "untouched", [](const fs::path&) {}, ReleaseState::Unverifiable},
        {L"archives", "nothing but archives", [](const fs::path&) {}, ReleaseState::Unverifiable},
        {L"nodigest", "a disk without digest", [](const fs::path&) {}, ReleaseState::Unverifiable},
    };
    for (const Case& c : cases)
    {
        const fs::path folder = Installed(c.release);
        c.apply(folder);
        EXPECT_EQ(Verify(folder), c.state) << c.change;
    }
}

TEST_F(ReleaseVerification, StopUntrustedPublisherAndMissingFolderHaveTheirOwnStates)
{
    std::stop_source stopped;
    stopped.request_stop();
    EXPECT_EQ(Verify(Installed(L"complete"), stopped.get_token()), ReleaseState::Cancelled);
    EXPECT_EQ(Verify(L""), ReleaseState::NoInstallFolder);
    EXPECT_EQ(Verify(scratch_.Path() / L"missing"), ReleaseState::NoInstallFolder);
    EXPECT_EQ(Verify(scratch_.Write(L"file", "not a folder")), ReleaseState::NoInstallFolder);
    pc_.Write("{}");
    EXPECT_EQ(Verify(Installed(L"complete")), ReleaseState::Unverifiable);
}

// (The install road shows a signed manifest leaving its proof.)
TEST(ReleaseFiles, UnsignedManifestRemovesTheProofOfAnEarlierOne)
{
    PdTest::ScratchFolder folder;
    folder.Write(L"release.json", "{}");
    folder.Write(L"release.cat", "catalog");
    Pd::Core::Manifest manifest;
    manifest.manifestBytes = "{\"format\": 1}";
    const auto installFolder = Pd::Core::InstallFolder::From(folder.Path().wstring());
    ASSERT_TRUE(Pd::Core::WriteReleaseFiles(installFolder, manifest));
    EXPECT_FALSE(fs::exists(folder.Path() / L"release.json"));
    EXPECT_FALSE(fs::exists(folder.Path() / L"release.cat"));
    EXPECT_TRUE(Pd::Core::WriteReleaseFiles(installFolder, manifest)) << "nothing left to remove";
}

// A reader of a release file (a verify, the host's start-up check) delays its replacement and
// never fails it, whether it shares deleting as the program's own readers do or not; a folder in
// the file's place fails the replacement at once, leaving nothing aside.
TEST(ReleaseFiles, AReaderDelaysTheReplacementAndNeverFailsIt)
{
    PdTest::ScratchFolder folder;
    std::string content = "old";
    const fs::path target = folder.Write(L"release.cat", content);
    for (const DWORD share : {DWORD{FILE_SHARE_READ | FILE_SHARE_DELETE}, DWORD{FILE_SHARE_READ}})
    {
        Pd::UniqueFile held(
            ::CreateFileW(target.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        EXPECT_EQ(Pd::Core::ReadFileBytes(target.wstring()), content) << "readers do not exclude each other";
        std::atomic<bool> returned{false};
        std::jthread reader([&] {
            // A slow reader: it reads on for a moment once the replacement is staged beside the
            // file (the writer is at its rename then, and retries it for seconds), or lets go once
            // a rename it did not hold up has returned.
            const fs::path staged = target.wstring() + L".new";
            Pd::Test::PollUntil([&] {
                std::error_code error;
                return returned || fs::exists(staged, error);
            });
            if (!returned)
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
            held.Reset();
        });
        content = "new " + std::to_string(share);
        auto written = Pd::Core::WriteFileReplacing(target.wstring(), content);
        returned = true;
        ASSERT_TRUE(written) << Pd::Core::ToUtf8(written.error());
        EXPECT_EQ(PdTest::ReadBytes(target), content);
        EXPECT_FALSE(fs::exists(target.wstring() + L".new"));
    }
    const fs::path blocked = folder.Path() / L"release.json";
    fs::create_directories(blocked / L"inside");
    auto written = Pd::Core::WriteFileReplacing(blocked.wstring(), "new");
    ASSERT_FALSE(written);
    EXPECT_TRUE(written.error().starts_with(L"Replacing " + blocked.wstring() + L": "))
        << Pd::Core::ToUtf8(written.error());
    EXPECT_FALSE(fs::exists(blocked.wstring() + L".new"));
}

TEST(ReleaseFiles, StoredStateIsReadAsADword)
{
    PdTest::UserValues values({L"ReleaseState"});
    EXPECT_EQ(Pd::Core::ReadReleaseState(), ReleaseState::Cancelled);
    Pd::Core::WriteUserDword(L"ReleaseState", 4);
    EXPECT_EQ(Pd::Core::ReadReleaseState(), ReleaseState::Modified);
    Pd::Core::WriteUserString(L"ReleaseState", L"1");
    EXPECT_EQ(Pd::Core::ReadReleaseState(), ReleaseState::Cancelled);
}

} // namespace
