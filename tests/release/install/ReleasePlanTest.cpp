#include "release/install/ReleasePlan.h"

#include "tests/core/ScratchFolder.h"

#include <gtest/gtest.h>

namespace
{

using Pd::Core::Component;
using Pd::Core::ComponentKind;
using Pd::Core::InstallFolder;
using Pd::Core::InstallState;
using Pd::Core::Manifest;
using Pd::Core::PlanRelease;

Component Make(std::wstring id, ComponentKind kind, std::wstring target, std::uint64_t packed,
               std::uint64_t size, bool optional = false)
{
    Component component;
    component.id = std::move(id);
    component.kind = kind;
    component.target = std::move(target);
    component.packedSize = packed;
    component.size = size;
    component.packedSha256 = std::wstring(64, L'0' + static_cast<wchar_t>(packed % 10));
    component.optional = optional;
    return component;
}

Manifest Sample()
{
    Manifest manifest;
    manifest.components = {Make(L"system", ComponentKind::Disk, L"system.vhdx", 300, 1000),
                           Make(L"windows", ComponentKind::Archive, L".", 20, 50),
                           Make(L"tools", ComponentKind::Archive, L"tools", 7, 9),
                           Make(L"tovikpatch", ComponentKind::File, L"TovikPatch.exe", 1, 2, true),
                           Make(L"extra", ComponentKind::File, L"extra.bin", 4, 4, true)};
    return manifest;
}

// A state and a folder in which every planned component is installed and present.
InstallState Installed(const Manifest& manifest, const PdTest::ScratchFolder& folder)
{
    InstallState state;
    for (const Component& component : manifest.components)
        state.components[component.id] = component.packedSha256;
    folder.Write(L"system.vhdx", "disk");
    folder.Write(L"AppxManifest.xml", "<Package/>");
    folder.Write(L"TovikPatch.exe", "MZ");
    return state;
}

std::vector<std::pair<std::wstring, bool>> RowsOf(const Pd::Core::ReleasePlan& plan)
{
    std::vector<std::pair<std::wstring, bool>> rows;
    for (const auto& item : plan.items)
        rows.emplace_back(item.component.get().id, item.needed);
    return rows;
}

TEST(PlanRelease, AComponentIsNeededWhenItIsNewItsDigestChangedOrItsFilesAreMissing)
{
    using Rows = std::vector<std::pair<std::wstring, bool>>;
    PdTest::ScratchFolder folder;
    Manifest manifest = Sample();
    auto fresh = PlanRelease(manifest, {}, 26100, InstallFolder::From(folder.Path().wstring()));
    EXPECT_EQ(RowsOf(fresh), (Rows{{L"system", true}, {L"windows", true}, {L"tools", true}}));
    EXPECT_EQ(fresh.downloadBytes, 327u);
    EXPECT_EQ(fresh.diskBytes, 1059u);
    EXPECT_EQ(&fresh.items[0].component.get(), &manifest.components[0]);

    InstallState state = Installed(manifest, folder);
    auto installed = PlanRelease(manifest, state, 26100, InstallFolder::From(folder.Path().wstring()));
    EXPECT_EQ(RowsOf(installed), (Rows{{L"system", false}, {L"windows", false}, {L"tools", false}}));
    EXPECT_EQ(installed.downloadBytes, 0u);
    EXPECT_EQ(installed.diskBytes, 0u);

    state.components[L"tools"] = std::wstring(64, L'f'); // an older release's download
    std::filesystem::remove(folder.Path() / L"system.vhdx");
    auto changed = PlanRelease(manifest, state, 26100, InstallFolder::From(folder.Path().wstring()));
    EXPECT_EQ(RowsOf(changed), (Rows{{L"system", true}, {L"windows", false}, {L"tools", true}}));
    EXPECT_EQ(changed.downloadBytes, 307u);
    std::filesystem::remove(folder.Path() / L"AppxManifest.xml");
    EXPECT_TRUE(
        PlanRelease(manifest, state, 26100, InstallFolder::From(folder.Path().wstring())).items[1].needed);
}

TEST(PlanRelease, OnlyTovikPatchIsOptionalAndOnlyFromBuild28000)
{
    PdTest::ScratchFolder folder;
    Manifest manifest = Sample();
    EXPECT_EQ(PlanRelease(manifest, {}, 27999, InstallFolder::From(folder.Path().wstring())).items.size(),
              3u);
    auto plan = PlanRelease(manifest, Installed(manifest, folder), 28000,
                            InstallFolder::From(folder.Path().wstring()));
    ASSERT_EQ(plan.items.size(), 4u);
    EXPECT_EQ(plan.items[3].component.get().id, L"tovikpatch");
    EXPECT_FALSE(plan.items[3].needed);
}

} // namespace
