#include "cli/Sources.h"
#include "core/Settings.h"
#include "release/manifest/Versions.h"
#include "tests/release/UserValues.h"

#include <gtest/gtest.h>

namespace
{

using namespace Pd::Cli;

TEST(SourcesTest, SourceWordsGiveTheirServersInAnyCaseAndAnythingElseIsAnAddress)
{
    EXPECT_EQ(ManifestUrlForSource(L"GitHub"), Pd::Core::GithubManifestAddress());
    EXPECT_EQ(ManifestUrlForSource(L"MIRROR"), Pd::Core::MirrorManifestAddress());
    EXPECT_EQ(ManifestUrlForSource(L"Local"), L"http://localhost/peldra/manifest.json");
    EXPECT_EQ(ManifestUrlForSource(L""), L"http://localhost/peldra/manifest.json");
    EXPECT_EQ(ManifestUrlForSource(L"http://127.0.0.1:8080/Rel/m.json"), L"http://127.0.0.1:8080/Rel/m.json");
}

TEST(SourcesTest, SourceWinsOverTheStoredChoice)
{
    PdTest::UserValues values({L"Source"});
    Pd::Core::WriteUserString(L"Source", L"local");
    Args args;
    EXPECT_EQ(ResolveManifestUrl(args), L"http://localhost/peldra/manifest.json");
    args.source = L"MIRROR";
    EXPECT_EQ(ResolveManifestUrl(args), Pd::Core::MirrorManifestAddress());
}

} // namespace
