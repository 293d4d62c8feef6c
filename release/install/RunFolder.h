// The install folder of this run, from the facts of this PC: what was typed, the HKLM records,
// the per-user value and the package registration (InstallFolderChoice.h has the rule).
#pragma once

#include "release/folders/InstallFolderChoice.h"

namespace Pd::Install
{

// The folder for this run: `typed` when given; else for an install the chosen folder, else the
// recorded one; for an existing install the recorded folder, else the chosen one; else the
// default one. A per-user value that names another folder than the one taken is named in the
// notice. With no record and no choice, an install of Peldra in another folder that the package
// registration or the per-user value names fails the choice (the user names or chooses it), as
// does a record whose folder was replaced.
Result<FolderChoice> ResolveInstallFolder(std::wstring_view typed, FolderUse use,
                                          Asker asker = Asker::CommandLine);

// The window's and the host's folder, which they always need: ResolveInstallFolder with nothing
// typed for showing; a refusal gives the default folder, blocked, with the refusal as its notice.
FolderChoice FolderToShow(Asker asker = Asker::CommandLine);

} // namespace Pd::Install
