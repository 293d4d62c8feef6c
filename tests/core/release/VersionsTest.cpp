#include "core/release/Versions.h"

#include "core/Settings.h"
#include "tests/core/release/UserValues.h"

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

TEST_F(ReleaseSource, GithubIsTheDefault)
{
    EXPECT_EQ(Pd::Core::ManifestSource(), Pd::Core::GithubManifestAddress());
    EXPECT_TRUE(Pd::Core::GithubManifestAddress().starts_with(L"https://"));
    EXPECT_TRUE(Pd::Core::GithubManifestAddress().ends_with(L"/releases/download/components/manifest.json"));
}

TEST_F(ReleaseSource, EachWordSelectsItsAddress)
{
    Pd::Core::WriteUserString(L"Source", L"mirror");
    EXPECT_EQ(Pd::Core::ManifestSource(), Pd::Core::MirrorManifestAddress());
    EXPECT_TRUE(Pd::Core::MirrorManifestAddress().ends_with(L"/android/manifest.json"));
    Pd::Core::WriteUserString(L"Source", L"local");
    EXPECT_EQ(Pd::Core::ManifestSource(), L"http://localhost/peldra/manifest.json");
    Pd::Core::WriteUserString(L"Source", L"custom");
    Pd::Core::WriteUserString(L"CustomManifest", L"https://example.test/r/manifest.json?x=1");
    EXPECT_EQ(Pd::Core::ManifestSource(), L"https://example.test/r/manifest.json?x=1");
}

TEST_F(ReleaseSource, CustomWithoutAddressIsEmpty)
{
    Pd::Core::WriteUserString(L"Source", L"custom");
    EXPECT_EQ(Pd::Core::ManifestSource(), L"");
}

TEST_F(ReleaseSource, UnknownWordsAndOtherLetterCaseSelectGithub)
{
    for (const wchar_t* word : {L"Mirror", L"LOCAL", L"Custom", L"elsewhere", L""})
    {
        Pd::Core::WriteUserString(L"Source", word);
        Pd::Core::WriteUserString(L"CustomManifest", L"https://example.test/manifest.json");
        EXPECT_EQ(Pd::Core::ManifestSource(), Pd::Core::GithubManifestAddress()) << word;
    }
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

} // namespace
