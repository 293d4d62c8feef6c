#include "release/verify/ReleaseVerification.h"

#include "release/folders/Folders.h"
#include "release/folders/NoLinks.h"
#include "release/manifest/Trust.h"

#include <windows.h>

#include <filesystem>
#include <memory>
#include <utility>

namespace Pd::Core
{
namespace
{

// The manifest was fetched with a 1 MiB limit: a larger "release.json" is none of ours.
constexpr std::uint64_t ManifestLimit = 1u << 20;

} // namespace

ReleaseState VerifyRelease(const InstallFolder& installFolder, std::stop_token stop)
{
    std::error_code error;
    if (installFolder.empty() || !std::filesystem::is_directory(installFolder.Path(), error))
        return ReleaseState::NoInstallFolder;
    const std::filesystem::path folder(installFolder.Path());
    const std::wstring manifestPath = (folder / L"release.json").wstring();
    const std::string bytes = ReadFileBytes(manifestPath, ManifestLimit);
    if (bytes.empty() || !VerifyCatalogMember((folder / L"release.cat").wstring(), bytes))
        return ReleaseState::Unverifiable;
    auto manifest = ParseManifest(bytes, manifestPath);
    if (!manifest)
        return ReleaseState::Unverifiable;

    int verified = 0;
    for (const Component& component : manifest->components)
    {
        if (component.kind == ComponentKind::Archive)
            continue;
        const std::wstring file = (folder / component.target).wstring();
        if (component.optional && !PathExists(file))
            continue;
        if (component.sha256.empty())
            return ReleaseState::Unverifiable;
        const std::wstring digest = CachedFileSha256(file, stop);
        if (stop.stop_requested())
            return ReleaseState::Cancelled;
        if (digest != component.sha256)
            return ReleaseState::Modified;
        ++verified;
    }
    return verified > 0 ? ReleaseState::Verified : ReleaseState::Unverifiable;
}

Pd::Result<> WriteReleaseFiles(const InstallFolder& installFolder, const Manifest& manifest)
{
    const std::wstring manifestPath = installFolder.Join(L"release.json");
    const std::wstring catalogPath = installFolder.Join(L"release.cat");
    if (!manifest.isSigned)
    {
        // A signed release's proof left from before would speak for files it does not describe.
        if (auto deleted = Install::DeleteBelow(installFolder.Path(), manifestPath); !deleted)
            return deleted;
        return Install::DeleteBelow(installFolder.Path(), catalogPath);
    }
    auto staged = StageReleaseFiles(installFolder, manifest);
    if (!staged)
        return std::unexpected(std::move(staged.error()));
    return staged->CommitAll();
}

Pd::Result<Install::StagedFiles> StageReleaseFiles(const InstallFolder& installFolder,
                                                   const Manifest& manifest)
{
    Install::StagedFiles staged;
    if (!manifest.isSigned)
        return staged;
    for (const auto& [name, bytes] : {std::pair{L"release.json", &manifest.manifestBytes},
                                      std::pair{L"release.cat", &manifest.catalogBytes}})
    {
        auto file = std::make_unique<Install::StagedFile>();
        if (auto opened = file->Open(installFolder.Join(name)); !opened)
            return std::unexpected(std::move(opened.error()));
        if (auto written = file->Write(bytes->data(), bytes->size()); !written)
            return std::unexpected(std::move(written.error()));
        staged.Add(std::move(file));
    }
    if (auto free = staged.WaitAllReplaceable(); !free)
        return std::unexpected(std::move(free.error()));
    return staged;
}

} // namespace Pd::Core
