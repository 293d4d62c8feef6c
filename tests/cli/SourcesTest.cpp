#include "cli/Sources.h"
#include "cli/HelloRemember.h"

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
    EXPECT_EQ(ManifestUrlForSource(L"http://127.0.0.1:8080/Rel/manifest.json"),
              L"http://127.0.0.1:8080/Rel/manifest.json");

    Args args;
    args.source = L"MIRROR";
    EXPECT_EQ(ResolveManifestUrl(args), Mirror);
}

TEST(SourcesTest, OnlyTheExactStoredWordCustomSelectsTheCustomAddress)
{
    EXPECT_EQ(ManifestUrlForStoredSource(L"custom", L"https://example.test/m.json"),
              L"https://example.test/m.json");
    EXPECT_EQ(ManifestUrlForStoredSource(L"Custom", L"https://example.test/m.json"), L"Custom");
    EXPECT_EQ(ManifestUrlForStoredSource(L"Mirror", L""), Mirror);
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

TEST(HelloRememberTest, ValuesInWords)
{
    EXPECT_EQ(HelloRememberText(0), L"off (Windows Hello asks every time)");
    EXPECT_EQ(HelloRememberText(0xFFFFFFFF), L"until Windows is locked");
    EXPECT_EQ(HelloRememberText(30), L"for 30 minutes");
}

} // namespace
