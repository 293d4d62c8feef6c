#include "cli/Check.h"

#include "core/Version.h"

#include <gtest/gtest.h>

namespace
{

using Pd::Core::ComponentKind;

class CheckTest : public ::testing::Test
{
protected:
    CheckTest()
    {
        manifest.version = L"2.0.0";
        manifest.android = L"Android 15";
        manifest.variant = L"Google";
        manifest.components.resize(2);
        auto& system = manifest.components[0];
        std::tie(system.id, system.kind, system.target, system.packedSize, system.size) =
            std::tuple(L"system", ComponentKind::Disk, L"system.vhdx", 3u << 20, 5ull << 30);
        auto& kernel = manifest.components[1];
        std::tie(kernel.id, kernel.target, kernel.packedSize, kernel.size) =
            std::tuple(L"kernel", L"tools/kernel", 2048, 4096);
    }
    std::wstring Text() { return Pd::Cli::CheckText(manifest, {}, L"http://127.0.0.1/m.json", L"C:\\Tovik"); }
    bool Shows(const std::wstring& line) { return Text().find(L"\n" + line + L"\n") != std::wstring::npos; }

    Pd::Core::Manifest manifest;
};

TEST_F(CheckTest, ComponentsStandInColumnsWithWhatAnInstallDoesWithThem)
{
    manifest.isSigned = true;
    Pd::Core::ReleasePlan plan;
    plan.items = {{std::cref(manifest.components[0]), true}, {std::cref(manifest.components[1]), false}};

    EXPECT_EQ(Pd::Cli::CheckText(manifest, plan, L"http://127.0.0.1/m.json", L"C:\\Tovik"),
              L"Peldra 2.0.0  Android 15  Google\n"
              L"Source  http://127.0.0.1/m.json\n"
              L"Folder  C:\\Tovik\n"
              L"Release official (publisher signature)\n"
              L"\n"
              L"  system      system.vhdx                3.0 MB ->    5.00 GB  download\n"
              L"  kernel      tools/kernel               2.0 KB ->     4.0 KB  installed\n"
              L"\n");
}

TEST_F(CheckTest, TheReleaseLineTellsSignedFromBrokenAndMissingSignatures)
{
    EXPECT_TRUE(Shows(L"Release unofficial (not signed)"));
    manifest.catalogBytes = "catalog";
    EXPECT_TRUE(Shows(L"Release unofficial (signature not valid for this manifest)"));
}

TEST_F(CheckTest, OnlyASignedReleaseOffersANewerProgramAndAMinimumAboveThisProgramIsNamed)
{
    const std::wstring update = L"Update  Peldra 9.0.0 is available (this is " +
                                std::wstring(Pd::ProgramVersion) +
                                L"); the window installs it: Help > Update Peldra";
    const std::wstring needs = L"Needs   Peldra 9.0 or newer to install this release";
    manifest.app.emplace();
    manifest.app->version = L"9.0.0";
    manifest.app->minimum = L"9.0";
    EXPECT_FALSE(Shows(update));
    EXPECT_TRUE(Shows(needs));

    manifest.isSigned = true;
    manifest.app->minimum = std::wstring(Pd::ProgramVersion);
    EXPECT_TRUE(Shows(update));
    EXPECT_FALSE(Shows(needs));

    manifest.app->version = std::wstring(Pd::ProgramVersion);
    EXPECT_EQ(Text().find(L"Update"), std::wstring::npos) << "the same version is no update";
}

} // namespace
