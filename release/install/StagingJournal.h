// What an archive's unpack creates before the state file can name it. The names in an archive
// are known only once it is unpacked, so a run cut off in the middle would leave staged files
// and folders that no record names. The unpack therefore notes each staged file and each folder
// it creates in a journal beside the downloads (".download\<id>.staged"), before creating it:
// what a run cut off leaves is removed exactly, and a file of the user's is never taken for it.
#pragma once

#include "core/Handles.h"
#include "core/Result.h"
#include "release/base/InstallFolder.h"

#include <string>

namespace Pd::Core
{

class StagingJournal
{
public:
    // Starts the component's journal; what an earlier run's journal of it lists goes first (an
    // earlier journal that CheckFolderTrust refuses fails the call).
    Result<> Open(const InstallFolder& installFolder, const std::wstring& componentId);
    // Notes a path below the install folder before it is created: a staged file, or a folder.
    Result<> Add(const std::wstring& path, bool folder);
    // Deletes the journal: the state file names exactly what was staged from here on.
    void Discard();

private:
    InstallFolder installFolder_;
    std::wstring path_;
    UniqueFile file_;
};

// Removes what the install folder's journals list and is still there (the staged files, then
// the folders when empty, deepest first; never through a link), then the journals. A journal is
// acted on only when it and the folder pass CheckFolderTrust (release/folders/FolderTrust.h);
// the first refusal is the error, and the others' journals are still undone.
Result<> UndoStagingJournals(const InstallFolder& installFolder);

} // namespace Pd::Core
