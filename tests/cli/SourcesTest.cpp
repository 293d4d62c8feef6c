#include "cli/Sources.h"
#include "cli/HelloRemember.h"
#include "core/Settings.h"
#include "tests/core/release/UserValues.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace
{

using namespace Pd::Cli;

const std::wstring GitHub = ManifestUrlForSource(L"github");
const std::wstring Mirror = ManifestUrlForSource(L"mirror");

TEST(SourcesTest, SourceWordsGiveTheirServersInAnyCaseAndAnythingElseIsAnAddress)
{
    EXPECT_TRUE(GitHub.starts_with(L"https://"));
    EXPECT_TRUE(GitHub.ends_with(L"/peldra/releases/download/components/manifest.json"));
    EXPECT_TRUE(Mirror.starts_with(L"https://"));
    EXPECT_TRUE(Mirror.ends_with(L"/android/manifest.json"));
    EXPECT_EQ(ManifestUrlForSource(L"Local"), L"http://localhost/peldra/manifest.json");
    EXPECT_EQ(ManifestUrlForSource(L""), L"http://localhost/peldra/manifest.json");
    EXPECT_EQ(ManifestUrlForSource(L"GitHub"), GitHub);
    EXPECT_EQ(ManifestUrlForSource(L"custom"), L"custom");
    EXPECT_EQ(ManifestUrlForSource(L"http://127.0.0.1:8080/Rel/manifest.json"),
              L"http://127.0.0.1:8080/Rel/manifest.json");
}

TEST(SourcesTest, StoredSourceAndTheSameSourceWordGiveTheSameAddress)
{
    PdTest::UserValues values({L"Source", L"CustomManifest"});
    Args stored;
    EXPECT_EQ(ResolveManifestUrl(stored), GitHub) << "no stored Source means github";
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
    EXPECT_EQ(ResolveManifestUrl(given), Mirror) << "--source wins over the stored value";
}

TEST(SourcesTest, DirIsMadeAbsoluteAgainstTheCurrentFolderAndKeepsItsCase)
{
    Args args;
    args.dir = L"Sub\\Tovik";
    EXPECT_EQ(ResolveInstallFolder(args).value_or(L""),
              (std::filesystem::current_path() / L"Sub\\Tovik").wstring());
    args.dir = L"D:\\Apps\\Tovik\\";
    EXPECT_EQ(ResolveInstallFolder(args).value_or(L""), L"D:\\Apps\\Tovik");
}

TEST(SourcesTest, WithoutDirTheStoredInstallFolderIsUsed)
{
    PdTest::UserValues values({L"InstallFolder"});
    Pd::Core::WriteUserString(L"InstallFolder", L"E:\\Android");
    EXPECT_EQ(ResolveInstallFolder(Args{}).value_or(L""), L"E:\\Android");
}

TEST(HelloRememberTest, ValuesInWords)
{
    EXPECT_EQ(HelloRememberText(0), L"off (Windows Hello asks every time)");
    EXPECT_EQ(HelloRememberText(0xFFFFFFFF), L"until Windows is locked");
    EXPECT_EQ(HelloRememberText(30), L"for 30 minutes");
}

} // namespace
