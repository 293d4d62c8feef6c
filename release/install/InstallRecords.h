// What an install creates in its folder, as the state file records it: every file and folder,
// relative to the install folder, a folder with a trailing backslash. Files are known from the
// staged files; folders from what exists before and after a component is unpacked, so a folder
// the user already had is never recorded as the install's.
#pragma once

#include "release/base/InstallState.h"

#include <set>
#include <string>
#include <vector>

namespace Pd::Core
{

// The folders (relative, trailing backslash) on the way from the install folder to the target
// that exist now, and every folder below the target when it is one. Links are neither recorded
// nor entered.
std::set<std::wstring> ExistingFolders(const InstallFolder& installFolder, const std::wstring& target);

// One component's record: its files (full paths below the install folder) and the folders that
// exist now but did not before. Paths that do not lie below the folder are left out.
std::vector<std::wstring> PlacedRecord(const InstallFolder& installFolder,
                                       const std::vector<std::wstring>& files,
                                       const std::set<std::wstring>& foldersBefore,
                                       const std::set<std::wstring>& foldersAfter);

// The earlier record of a key joined with the new one: what an earlier install placed stays the
// program's after an update, in the order first recorded.
std::vector<std::wstring> JoinRecords(const std::vector<std::wstring>& earlier,
                                      const std::vector<std::wstring>& added);

// The records whose path, or the staged "<path>.new" of a file, is still there: what an earlier
// run recorded and is gone since is no longer the release's, so it neither stays recorded nor
// makes a component count as missing.
std::vector<std::wstring> RecordsStillThere(const InstallFolder& installFolder,
                                            const std::vector<std::wstring>& records);

// The names that are folders directly in the install folder, as folder records.
std::vector<std::wstring> FolderRecords(const InstallFolder& installFolder,
                                        const std::vector<std::wstring>& names);

// Whether a recorded path names a folder.
bool IsFolderRecord(const std::wstring& record);

// Whether a record is a plain relative path below the folder: no "..", no drive, no empty
// element, no name Windows would read as another one.
bool IsSafeRecord(const std::wstring& record);

// Whether the folder holds anything an install did not put there: it exists, has no state file
// and holds an entry other than the leftovers of an earlier run (the download folder) or, in the
// default install folder, the program's own copy.
bool HoldsForeignFiles(const InstallFolder& installFolder, bool isDefaultFolder);

} // namespace Pd::Core
