// An installed release carries its own proof: the signed manifest and its catalog, written as
// "release.json" and "release.cat" into the install folder. Verification checks that the catalog
// still lists the manifest and that every installed file still has the manifest's digest.
#pragma once

#include "core/Result.h"
#include "release/base/InstallFolder.h"
#include "release/manifest/Manifest.h"
#include "release/unpack/StagedFiles.h"
#include "release/verify/DigestCache.h"
#include "release/verify/ReleaseFiles.h"

#include <stop_token>
#include <string>

namespace Pd::Core
{

// Verified when the catalog is the publisher's and lists the stored manifest, and every disk and
// file component has its digest (archives are not verified; a missing optional component is
// skipped); Unverifiable without proof, with a broken manifest or with nothing to verify;
// Modified when a file differs or a required one is missing; NoInstallFolder for an empty path
// or one that is no folder; Cancelled when stop was requested. Never Running.
ReleaseState VerifyRelease(const InstallFolder& installFolder, std::stop_token stop);

// For a signed manifest writes its bytes and its catalog's as "release.json" and "release.cat";
// for an unsigned one deletes both (failures ignored).
Pd::Result<> WriteReleaseFiles(const InstallFolder& installFolder, const Manifest& manifest);

// WriteReleaseFiles' first half for a signed manifest (nothing for an unsigned one): both files
// staged beside their targets, and neither target held by another program (RenameOver's wait), so
// that a run finds them replaceable before it replaces anything. The caller commits them.
Pd::Result<Install::StagedFiles> StageReleaseFiles(const InstallFolder& installFolder,
                                                   const Manifest& manifest);

} // namespace Pd::Core
