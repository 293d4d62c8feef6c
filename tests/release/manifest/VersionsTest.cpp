#include "release/manifest/Versions.h"

#include "core/Settings.h"
#include "core/Strings.h"
#include "release/base/InstallState.h"
#include "release/manifest/Updates.h"
#include "tests/core/ScratchFolder.h"
#include "tests/release/UserValues.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

using Pd::Core::CompareVersions;

TEST(CompareVersions, ComparesDottedNumbersBothWays)
{
    struct Case
    {
        const wchar_t* a;
        const wchar_t* b;
        int expected;
    };
    for (const Case& c : {
             Case{L"1.10", L"1.9", 1},        // numbers, not text
             Case{L"2", L"2.0.0", 0},         // missing parts are 0
             Case{L"", L"0.0.1", -1},         //
             Case{L"1.2-rc1.3", L"1.2.3", 0}, // text after the digits is skipped up to the next point
             Case{L"1..2", L"1.0.2", 0},      // an empty part is 0
             Case{L"1.02", L"1.2", 0},        // leading zeros
             Case{L"beta", L"0", 0},          // no digits
             Case{L"0.2", L"0.1.9", 1},
             Case{L"1.1234567890129", L"1.1234567890120", 0}, // twelve digits count
             Case{L"1.123456789012", L"1.123456789013", -1},
             Case{L"1.000000000000000000001", L"1.1", 0}, // zeros are not digits that count
             Case{L"99999999999999999999", L"999999999999", 0},
         })
    {
        EXPECT_EQ(CompareVersions(c.a, c.b), c.expected)
            << Pd::Core::ToUtf8(c.a) << " vs " << Pd::Core::ToUtf8(c.b);
        EXPECT_EQ(CompareVersions(c.b, c.a), -c.expected)
            << Pd::Core::ToUtf8(c.b) << " vs " << Pd::Core::ToUtf8(c.a);
    }
}

class ReleaseSource : public ::testing::Test
{
protected:
    PdTest::UserValues values_{{L"Source", L"CustomManifest", L"UpdateCheck"}};
};

TEST_F(ReleaseSource, EachWordSelectsItsAddressAndEveryOtherOneGithub)
{
    EXPECT_EQ(Pd::Core::ManifestSource(), Pd::Core::GithubManifestAddress()) << "the default";
    const std::pair<const wchar_t*, std::wstring> cases[] = {
        {L"mirror", Pd::Core::MirrorManifestAddress()},
        {L"local", L"http://localhost/peldra/manifest.json"},
        {L"custom", L"https://example.test/r/manifest.json?x=1"},
        {L"Mirror", Pd::Core::GithubManifestAddress()}, // the words are matched with their case
        {L"elsewhere", Pd::Core::GithubManifestAddress()},
    };
    Pd::Core::WriteUserString(L"CustomManifest", L"https://example.test/r/manifest.json?x=1");
    for (const auto& [word, address] : cases)
    {
        Pd::Core::WriteUserString(L"Source", word);
        EXPECT_EQ(Pd::Core::ManifestSource(), address) << word;
    }
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, Pd::Core::SettingsKey, L"CustomManifest");
    Pd::Core::WriteUserString(L"Source", L"custom");
    EXPECT_EQ(Pd::Core::ManifestSource(), L"");
}

TEST_F(ReleaseSource, UpdateChecksAreOffOnlyForZero)
{
    EXPECT_TRUE(Pd::Core::UpdateCheckEnabled());
    Pd::Core::WriteUserDword(L"UpdateCheck", 0);
    EXPECT_FALSE(Pd::Core::UpdateCheckEnabled());
    Pd::Core::WriteUserDword(L"UpdateCheck", 2);
    EXPECT_TRUE(Pd::Core::UpdateCheckEnabled());
    Pd::Core::WriteUserString(L"UpdateCheck", L"0"); // unreadable as a DWORD
    EXPECT_TRUE(Pd::Core::UpdateCheckEnabled());
}

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
        ASSERT_TRUE(Pd::Core::WriteState(Pd::Core::InstallFolder::From(folder_.Path().wstring()), state));
    }
    bool Record(const Pd::Core::Manifest& manifest)
    {
        return Pd::Core::RecordUpdates(manifest, Pd::Core::InstallFolder::From(folder_.Path().wstring()));
    }
    static std::optional<std::wstring> Value(const wchar_t* name) { return PdTest::UserValues::Text(name); }

    PdTest::UserValues values_{{L"UpdateApp", L"UpdateRelease", L"UpdateChecked"}};
    PdTest::ScratchFolder folder_;
};

TEST_F(UpdateRecords, OnlyASignedManifestOffersANewerProgram)
{
    EXPECT_FALSE(Pd::Core::AppUpdate(Offer(L"1.0", L"0.2.0", false)));
    EXPECT_FALSE(Pd::Core::AppUpdate(Offer(L"1.0", L"", true)));
    EXPECT_FALSE(Pd::Core::AppUpdate(Offer(L"1.0", L"0.1.2", true)));
    EXPECT_EQ(Pd::Core::AppUpdate(Offer(L"1.0", L"0.1.10", true)).value_or(Pd::Core::AppInfo{}).version,
              L"0.1.10");

    Install(L"1.0");
    EXPECT_FALSE(Record(Offer(L"2.0", L"0.2.0", false)));
    for (const wchar_t* name : {L"UpdateApp", L"UpdateRelease", L"UpdateChecked"})
        EXPECT_EQ(Value(name), std::nullopt) << "an unsigned manifest changes nothing";
}

TEST_F(UpdateRecords, NewerProgramAndReleaseAreRecordedOnceAndClearedWhenNothingIsNewer)
{
    Install(L"1.0");
    EXPECT_TRUE(Record(Offer(L"1.1", L"0.2.0", true)));
    EXPECT_EQ(Value(L"UpdateApp"), L"0.2.0");
    EXPECT_EQ(Value(L"UpdateRelease"), L"1.1");
    EXPECT_GT(std::stoll(Value(L"UpdateChecked").value_or(L"0")), 1'700'000'000);

    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, Pd::Core::SettingsKey, L"UpdateChecked");
    EXPECT_FALSE(Record(Offer(L"1.1", L"0.2.0", true))); // the same findings again
    EXPECT_TRUE(Value(L"UpdateChecked"));                // ... still stamp the check

    Install(L"1.1");
    EXPECT_TRUE(Record(Offer(L"1.1", L"0.1.2", true)));
    EXPECT_EQ(Value(L"UpdateApp"), L"");
    EXPECT_EQ(Value(L"UpdateRelease"), L"");

    Install(L"1.2");
    EXPECT_FALSE(Record(Offer(L"1.1.9", L"0.1.2", true)));
    EXPECT_EQ(Value(L"UpdateRelease"), L"") << "a signed older release is never offered";
}

TEST_F(UpdateRecords, PendingUpdatesNeedAnInstalledReleaseAndEndOnceReached)
{
    EXPECT_FALSE(Record(Offer(L"9.0", L"", true)));
    EXPECT_EQ(Value(L"UpdateRelease"), L"");
    Pd::Core::WriteUserString(L"UpdateRelease", L"1.1");
    EXPECT_EQ(Pd::Core::PendingUpdates(Pd::Core::InstallFolder::From(folder_.Path().wstring())).release, L"");

    Install(L"1.0");
    Pd::Core::WriteUserString(L"UpdateApp", L"0.2.0");
    Pd::Core::WriteUserString(L"UpdateRelease", L"1.1");
    auto pending = Pd::Core::PendingUpdates(Pd::Core::InstallFolder::From(folder_.Path().wstring()));
    EXPECT_EQ(pending.app, L"0.2.0");
    EXPECT_EQ(pending.release, L"1.1");

    Install(L"1.1");
    Pd::Core::WriteUserString(L"UpdateApp", L"0.1.2"); // the running program's own version
    pending = Pd::Core::PendingUpdates(Pd::Core::InstallFolder::From(folder_.Path().wstring()));
    EXPECT_EQ(pending.app, L"");
    EXPECT_EQ(pending.release, L"");
}

} // namespace
