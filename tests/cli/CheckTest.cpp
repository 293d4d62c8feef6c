#include "cli/Check.h"

#include "core/Version.h"

#include <gtest/gtest.h>

namespace
{

using Pd::Cli::CheckText;
using Pd::Core::AppInfo;
using Pd::Core::Component;
using Pd::Core::ComponentKind;
using Pd::Core::Manifest;
using Pd::Core::ReleasePlan;

Component Make(std::wstring id, ComponentKind kind, std::wstring target, std::uint64_t packed,
               std::uint64_t size)
{
    Component component;
    component.id = std::move(id);
    component.kind = kind;
    component.target = std::move(target);
    component.packedSize = packed;
    component.size = size;
    return component;
}

AppInfo App(std::wstring version, std::wstring minimum = L"")
{
    AppInfo app;
    app.version = std::move(version);
    app.minimum = std::move(minimum);
    return app;
}

Manifest Release()
{
    Manifest manifest;
    manifest.name = L"Peldra";
    manifest.version = L"2.0.0";
    manifest.android = L"Android 15";
    manifest.variant = L"Google";
    manifest.components = {Make(L"system", ComponentKind::Disk, L"system.vhdx", 3u << 20, 5ull << 30),
                           Make(L"kernel", ComponentKind::File, L"tools/kernel", 2048, 4096)};
    return manifest;
}

std::wstring Lines(const Manifest& manifest)
{
    ReleasePlan plan;
    return CheckText(manifest, plan, L"http://127.0.0.1/m.json", L"C:\\Tovik");
}

bool Has(const std::wstring& text, const std::wstring& line)
{
    return text.find(L"\n" + line + L"\n") != std::wstring::npos;
}

TEST(CheckTest, ComponentsStandInColumnsWithWhatAnInstallDoesWithThem)
{
    Manifest manifest = Release();
    manifest.isSigned = true;
    ReleasePlan plan;
    plan.items = {{std::cref(manifest.components[0]), true}, {std::cref(manifest.components[1]), false}};

    EXPECT_EQ(CheckText(manifest, plan, L"http://127.0.0.1/m.json", L"C:\\Tovik"),
              L"Peldra 2.0.0  Android 15  Google\n"
              L"Source  http://127.0.0.1/m.json\n"
              L"Folder  C:\\Tovik\n"
              L"Release official (publisher signature)\n"
              L"\n"
              L"  system      system.vhdx                3.0 MB ->    5.00 GB  download\n"
              L"  kernel      tools/kernel               2.0 KB ->     4.0 KB  installed\n"
              L"\n");
}

TEST(CheckTest, TheReleaseLineTellsSignedFromBrokenAndMissingSignatures)
{
    Manifest manifest = Release();
    EXPECT_TRUE(Has(Lines(manifest), L"Release unofficial (not signed)"));
    manifest.catalogBytes = "catalog";
    EXPECT_TRUE(Has(Lines(manifest), L"Release unofficial (signature not valid for this manifest)"));
    manifest.isSigned = true;
    EXPECT_TRUE(Has(Lines(manifest), L"Release official (publisher signature)"));
}

TEST(CheckTest, AProgramUpdateIsOfferedOnlyBySignedReleases)
{
    Manifest manifest = Release();
    manifest.app = App(L"9.0.0");
    const std::wstring update = L"Update  Peldra 9.0.0 is available (this is " +
                                std::wstring(Pd::ProgramVersion) +
                                L"); the window installs it: Help > Update Peldra";
    EXPECT_FALSE(Has(Lines(manifest), update));
    manifest.isSigned = true;
    EXPECT_TRUE(Has(Lines(manifest), update));

    manifest.app->version = std::wstring(Pd::ProgramVersion);
    EXPECT_EQ(Lines(manifest).find(L"Update  "), std::wstring::npos) << "the same version is no update";
}

TEST(CheckTest, AMinimumAboveThisProgramIsNamedSignedOrNot)
{
    Manifest manifest = Release();
    manifest.app = App(L"9.0.0", L"9.0");
    EXPECT_TRUE(Has(Lines(manifest), L"Needs   Peldra 9.0 or newer to install this release"));

    manifest.app->minimum = std::wstring(Pd::ProgramVersion);
    EXPECT_EQ(Lines(manifest).find(L"Needs"), std::wstring::npos);
    manifest.app->minimum.clear();
    EXPECT_EQ(Lines(manifest).find(L"Needs"), std::wstring::npos);
}

} // namespace
