#include "core/release/Updates.h"

#include "core/release/InstallState.h"
#include "tests/core/release/UserValues.h"
#include "tests/core/ScratchFolder.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

using PdTest::UserValues;

Pd::Core::Manifest Offer(std::wstring version, std::wstring appVersion, bool isSigned)
{
    Pd::Core::Manifest manifest;
    manifest.version = std::move(version);
    if (!appVersion.empty())
        manifest.app = Pd::Core::AppInfo{std::move(appVersion), L"https://example.test/Peldra.msi", 1000,
                                         std::wstring(64, L'a'), L""};
    manifest.isSigned = isSigned;
    return manifest;
}

class UpdateRecords : public ::testing::Test
{
protected:
    void Install(const std::wstring& version)
    {
        Pd::Core::InstallState state;
        state.version = version;
        ASSERT_TRUE(Pd::Core::WriteState(folder_.Path().wstring(), state));
    }
    bool Record(const Pd::Core::Manifest& manifest)
    {
        return Pd::Core::RecordUpdates(manifest, folder_.Path().wstring());
    }

    UserValues values_{{L"UpdateApp", L"UpdateRelease", L"UpdateChecked"}};
    PdTest::ScratchFolder folder_;
};

TEST_F(UpdateRecords, OnlyASignedManifestOffersANewerProgram)
{
    EXPECT_FALSE(Pd::Core::AppUpdate(Offer(L"1.0", L"0.2.0", false)));
    EXPECT_FALSE(Pd::Core::AppUpdate(Offer(L"1.0", L"", true)));
    EXPECT_FALSE(Pd::Core::AppUpdate(Offer(L"1.0", L"0.1.2", true)));
    EXPECT_FALSE(Pd::Core::AppUpdate(Offer(L"1.0", L"0.1.1", true)));
    auto offer = Pd::Core::AppUpdate(Offer(L"1.0", L"0.1.10", true));
    ASSERT_TRUE(offer);
    EXPECT_EQ(offer->version, L"0.1.10");
}

TEST_F(UpdateRecords, UnsignedManifestChangesNothing)
{
    Install(L"1.0");
    EXPECT_FALSE(Record(Offer(L"2.0", L"0.2.0", false)));
    EXPECT_EQ(UserValues::Text(L"UpdateApp"), std::nullopt);
    EXPECT_EQ(UserValues::Text(L"UpdateRelease"), std::nullopt);
    EXPECT_EQ(UserValues::Text(L"UpdateChecked"), std::nullopt);
}

TEST_F(UpdateRecords, NewerProgramAndReleaseAreRecordedOnce)
{
    Install(L"1.0");
    EXPECT_TRUE(Record(Offer(L"1.1", L"0.2.0", true)));
    EXPECT_EQ(UserValues::Text(L"UpdateApp"), L"0.2.0");
    EXPECT_EQ(UserValues::Text(L"UpdateRelease"), L"1.1");
    auto checked = UserValues::Text(L"UpdateChecked");
    ASSERT_TRUE(checked);
    EXPECT_GT(std::stoll(*checked), 1'700'000'000);

    UserValues::Delete(L"UpdateChecked");
    EXPECT_FALSE(Record(Offer(L"1.1", L"0.2.0", true))); // the same findings again
    EXPECT_TRUE(UserValues::Text(L"UpdateChecked"));     // ... still stamp the check
}

TEST_F(UpdateRecords, FindingNothingNewClearsTheValues)
{
    Install(L"1.1");
    ASSERT_TRUE(Record(Offer(L"1.2", L"0.2.0", true)));
    EXPECT_TRUE(Record(Offer(L"1.1", L"0.1.2", true)));
    EXPECT_EQ(UserValues::Text(L"UpdateApp"), L"");
    EXPECT_EQ(UserValues::Text(L"UpdateRelease"), L"");
}

TEST_F(UpdateRecords, WithoutAnInstalledReleaseNoReleaseUpdateIsRecorded)
{
    EXPECT_FALSE(Record(Offer(L"9.0", L"", true)));
    EXPECT_EQ(UserValues::Text(L"UpdateRelease"), L"");
}

TEST_F(UpdateRecords, PendingUpdatesEndOnceReached)
{
    Install(L"1.0");
    Pd::Core::WriteUserString(L"UpdateApp", L"0.2.0");
    Pd::Core::WriteUserString(L"UpdateRelease", L"1.1");
    auto pending = Pd::Core::PendingUpdates(folder_.Path().wstring());
    EXPECT_EQ(pending.app, L"0.2.0");
    EXPECT_EQ(pending.release, L"1.1");

    Install(L"1.1");
    Pd::Core::WriteUserString(L"UpdateApp", L"0.1.2"); // the running program's own version
    pending = Pd::Core::PendingUpdates(folder_.Path().wstring());
    EXPECT_EQ(pending.app, L"");
    EXPECT_EQ(pending.release, L"");
}

TEST_F(UpdateRecords, PendingReleaseNeedsAnInstalledRelease)
{
    Pd::Core::WriteUserString(L"UpdateRelease", L"1.1");
    EXPECT_EQ(Pd::Core::PendingUpdates(folder_.Path().wstring()).release, L"");
}

} // namespace
