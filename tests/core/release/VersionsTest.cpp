#include "core/release/Versions.h"

#include "core/release/InstallState.h"
#include "core/release/Updates.h"
#include "core/Settings.h"
#include "tests/core/release/UserValues.h"
#include "tests/core/ScratchFolder.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

using Pd::Core::CompareVersions;

struct Comparison
{
    const wchar_t* a;
    const wchar_t* b;
    int expected;
};

class VersionComparison : public ::testing::TestWithParam<Comparison>
{
};

TEST_P(VersionComparison, ComparesDottedNumbers)
{
    const Comparison& c = GetParam();
    EXPECT_EQ(CompareVersions(c.a, c.b), c.expected) << c.a << L" vs " << c.b;
    EXPECT_EQ(CompareVersions(c.b, c.a), -c.expected) << c.b << L" vs " << c.a;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, VersionComparison,
    ::testing::Values(Comparison{L"1.10", L"1.9", 1}, // numbers, not text
                      Comparison{L"2", L"2.0.0", 0},  // missing parts are 0
                      Comparison{L"", L"0", 0}, Comparison{L"", L"", 0}, Comparison{L"", L"0.0.1", -1},
                      Comparison{L"1.2-rc1", L"1.2", 0},     // text after the digits is skipped
                      Comparison{L"1.2-rc1.3", L"1.2.3", 0}, // ... up to the next point
                      Comparison{L"1..2", L"1.0.2", 0},      // an empty part is 0
                      Comparison{L"1.02", L"1.2", 0},        // leading zeros
                      Comparison{L"beta", L"0", 0},          // no digits
                      Comparison{L"0.1.2", L"0.1.3", -1}, Comparison{L"0.2", L"0.1.9", 1},
                      Comparison{L"1.1234567890129", L"1.1234567890120", 0}, // twelve digits count
                      Comparison{L"1.123456789012", L"1.123456789013", -1},
                      Comparison{L"1.000000000000000000001", L"1.1", 0}, // zeros are not digits that count
                      Comparison{L"99999999999999999999", L"999999999999", 0}));

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
        {L"Mirror", Pd::Core::GithubManifestAddress()},
        {L"LOCAL", Pd::Core::GithubManifestAddress()},
        {L"Custom", Pd::Core::GithubManifestAddress()},
        {L"elsewhere", Pd::Core::GithubManifestAddress()},
        {L"", Pd::Core::GithubManifestAddress()},
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
        ASSERT_TRUE(Pd::Core::WriteState(folder_.Path().wstring(), state));
    }
    bool Record(const Pd::Core::Manifest& manifest)
    {
        return Pd::Core::RecordUpdates(manifest, folder_.Path().wstring());
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
}

TEST_F(UpdateRecords, ReleaseUpdatesNeedAnInstalledRelease)
{
    EXPECT_FALSE(Record(Offer(L"9.0", L"", true)));
    EXPECT_EQ(Value(L"UpdateRelease"), L"");
    Pd::Core::WriteUserString(L"UpdateRelease", L"1.1");
    EXPECT_EQ(Pd::Core::PendingUpdates(folder_.Path().wstring()).release, L"");
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

} // namespace
