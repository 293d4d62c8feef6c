// Verifying an installed release on a simulated PC that trusts the test publisher, against
// releases that the test-release builder signed and laid out as an install run leaves them.
#include "core/release/ReleaseVerification.h"

#include "core/Handles.h"
#include "core/release/Trust.h"
#include "tests/core/release/LoopbackServer.h"
#include "tests/core/release/UserValues.h"
#include "tests/core/ScratchFolder.h"
#include "tests/support/SigningFixtures.h"
#include "tests/support/SimScenario.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

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
        fs::copy(PdTest::LoopbackServer::Get().File(L"signed/" + release + L"/installed"), folder,
                 fs::copy_options::recursive);
        return folder;
    }

    ReleaseState Verify(const fs::path& folder, const Pd::Core::StopPredicate& stop = {})
    {
        return Pd::Core::VerifyRelease(folder.wstring(), stop);
    }

    Pd::Test::SimScenario pc_{PdTest::TrustingScenario(PdTest::PublisherPinsOf(L"test"))};
    PdTest::ScratchFolder scratch_;
};

TEST_F(ReleaseVerification, UntouchedReleaseIsVerified)
{
    // The optional kernel was never installed and the archive is not verified.
    EXPECT_EQ(Verify(Installed(L"complete")), ReleaseState::Verified);
}

TEST_F(ReleaseVerification, ChangedFileIsModified)
{
    const fs::path folder = Installed(L"complete");
    std::string image = PdTest::ReadBytes(folder / L"system.vhdx");
    image[image.size() / 2] ^= 1;
    PdTest::WriteBytes(folder / L"system.vhdx", image);
    EXPECT_EQ(Verify(folder), ReleaseState::Modified);
}

TEST_F(ReleaseVerification, MissingRequiredFileIsModified)
{
    const fs::path folder = Installed(L"complete");
    fs::remove(folder / L"system.vhdx");
    EXPECT_EQ(Verify(folder), ReleaseState::Modified);
}

TEST_F(ReleaseVerification, InstalledOptionalFileIsVerifiedToo)
{
    const fs::path folder = Installed(L"complete");
    PdTest::WriteBytes(folder / L"tools" / L"kernel", "not the kernel\n");
    EXPECT_EQ(Verify(folder), ReleaseState::Modified);
    PdTest::WriteBytes(folder / L"tools" / L"kernel", "kernel\n");
    EXPECT_EQ(Verify(folder), ReleaseState::Verified);
}

TEST_F(ReleaseVerification, ManifestChangedByOneByteCannotBeVerified)
{
    const fs::path folder = Installed(L"complete");
    PdTest::WriteBytes(folder / L"release.json", PdTest::ReadBytes(folder / L"release.json") + " ");
    EXPECT_EQ(Verify(folder), ReleaseState::Unverifiable);
}

TEST_F(ReleaseVerification, ReleaseWithoutProofCannotBeVerified)
{
    EXPECT_EQ(Verify(Installed(L"unsigned")), ReleaseState::Unverifiable);
    const fs::path folder = Installed(L"complete");
    fs::remove(folder / L"release.cat");
    EXPECT_EQ(Verify(folder), ReleaseState::Unverifiable);
    fs::remove(folder / L"release.json");
    EXPECT_EQ(Verify(folder), ReleaseState::Unverifiable);
}

TEST_F(ReleaseVerification, NothingVerifiableCannotBeVerified)
{
    EXPECT_EQ(Verify(Installed(L"archives")), ReleaseState::Unverifiable);
    EXPECT_EQ(Verify(Installed(L"nodigest")), ReleaseState::Unverifiable);
}

TEST_F(ReleaseVerification, PcThatDoesNotTrustThePublisherCannotVerify)
{
    pc_.Write("{}");
    EXPECT_EQ(Verify(Installed(L"complete")), ReleaseState::Unverifiable);
}

TEST_F(ReleaseVerification, MissingFolderIsNoInstallFolder)
{
    EXPECT_EQ(Verify(L""), ReleaseState::NoInstallFolder);
    EXPECT_EQ(Verify(scratch_.Path() / L"missing"), ReleaseState::NoInstallFolder);
    EXPECT_EQ(Verify(scratch_.Write(L"file", "not a folder")), ReleaseState::NoInstallFolder);
}

TEST_F(ReleaseVerification, StopDuringTheCheckIsCancelled)
{
    EXPECT_EQ(Verify(Installed(L"complete"), [] { return true; }), ReleaseState::Cancelled);
}

TEST(ReleaseFiles, SignedManifestLeavesItsProofUnsignedRemovesIt)
{
    PdTest::ScratchFolder folder;
    Pd::Core::Manifest manifest;
    manifest.manifestBytes = std::string("\xEF\xBB\xBF{\"format\": 1}\r\n", 17);
    manifest.catalogBytes = std::string("\x30\x00catalog", 9);
    manifest.isSigned = true;
    ASSERT_TRUE(Pd::Core::WriteReleaseFiles(folder.Path().wstring(), manifest));
    EXPECT_EQ(PdTest::ReadBytes(folder.Path() / L"release.json"), manifest.manifestBytes);
    EXPECT_EQ(PdTest::ReadBytes(folder.Path() / L"release.cat"), manifest.catalogBytes);

    manifest.isSigned = false;
    ASSERT_TRUE(Pd::Core::WriteReleaseFiles(folder.Path().wstring(), manifest));
    EXPECT_FALSE(fs::exists(folder.Path() / L"release.json"));
    EXPECT_FALSE(fs::exists(folder.Path() / L"release.cat"));
}

TEST(ReleaseFiles, ReplacedFileThatCannotBeMovedKeepsTheNewContentAside)
{
    PdTest::ScratchFolder folder;
    const fs::path target = folder.Write(L"release.json", "old");
    Pd::UniqueFile held(
        ::CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    auto written = Pd::Core::WriteFileReplacing(target.wstring(), "new");
    ASSERT_FALSE(written);
    EXPECT_TRUE(written.error().starts_with(L"Cannot create " + target.wstring() + L".: "))
        << written.error();
    held.Reset();
    EXPECT_EQ(PdTest::ReadBytes(target), "old");
    EXPECT_EQ(PdTest::ReadBytes(folder.Path() / L"release.json.new"), "new");
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
