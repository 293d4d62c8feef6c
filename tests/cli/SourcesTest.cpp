#include "cli/Sources.h"
#include "core/release/Versions.h"
#include "core/Settings.h"
#include "tests/core/release/UserValues.h"

#include <gtest/gtest.h>

#include <filesystem>

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

TEST(SourcesTest, TheStoredSourceGivesTheSameAddressAsItsWordAndSourceWinsOverIt)
{
    PdTest::UserValues values({L"Source", L"CustomManifest"});
    Args stored;
    for (const wchar_t* word : {L"github", L"mirror", L"local"})
    {
        Pd::Core::WriteUserString(L"Source", word);
        EXPECT_EQ(ResolveManifestUrl(stored), ManifestUrlForSource(word)) << word;
    }
    Pd::Core::WriteUserString(L"Source", L"custom");
    Pd::Core::WriteUserString(L"CustomManifest", L"https://example.test/m.json");
    EXPECT_EQ(ResolveManifestUrl(stored), L"https://example.test/m.json");
    Args given;
    given.source = L"MIRROR";
    EXPECT_EQ(ResolveManifestUrl(given), Pd::Core::MirrorManifestAddress());
}

std::wstring FolderFor(std::wstring dir)
{
    Args args;
    args.dir = std::move(dir);
    return ResolveInstallFolder(args).value_or(L"");
}

TEST(SourcesTest, DirIsMadeAbsoluteAndLosesItsTrailingSlashAndWithoutItTheStoredFolderIsUsed)
{
    EXPECT_EQ(FolderFor(L"Sub\\Tovik"), (std::filesystem::current_path() / L"Sub\\Tovik").wstring());
    EXPECT_EQ(FolderFor(L"D:\\Apps\\Tovik\\"), L"D:\\Apps\\Tovik");

    PdTest::UserValues values({L"InstallFolder"});
    Pd::Core::WriteUserString(L"InstallFolder", L"E:\\Android");
    EXPECT_EQ(FolderFor(L""), L"E:\\Android");
}

} // namespace
