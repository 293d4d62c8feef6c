// Whether an elevated run may act on what a folder's own files say. The install folder's state
// file and the journals beside its downloads list names that the uninstall and a later install
// delete; a folder that the user's unelevated programs can change, rename or swap would let them
// plant such lists and have another account's files deleted with administrator rights. So the
// folder and the file are read by handle, and they count only when administrators own them, only
// administrators may change them, and only administrators may rename or delete the folder.
#pragma once

#include "core/Result.h"

#include <windows.h>

#include <expected>
#include <optional>
#include <string>
#include <vector>

namespace Pd::Install
{

// Why a folder is not trusted.
enum class Distrust
{
    Unreadable, // its access list, or a place on the way to it, cannot be read
    Owner,      // the folder, its parent or the file belongs to another account
    Writer,     // another account may change the folder or the file
    Renamer,    // another account may rename or delete the folder
};

struct FolderDistrust
{
    Distrust reason = Distrust::Unreadable;
    std::wstring object; // the path the reason is about
    std::wstring text;   // the complete reason ("C:\x can be changed by Everyone, not only ...")
};

// Opens the folder, its parent and, when given and present, the file by handle, and succeeds
// only when the folder (not a link) and the file (in the folder, not a link) belong to
// Administrators or SYSTEM, nobody else may change either, and nobody else may rename or delete
// the folder (DELETE on it, FILE_DELETE_CHILD or a changeable access list on its parent). The one
// check before any name that a folder's own files list is acted on.
// Nothing above the parent is judged: whoever may rename a folder further up moves this one away
// with its parent, unchanged, and what it then puts at the path is its own, whose owner is refused.
std::expected<void, FolderDistrust> CheckFolderTrust(const std::wstring& folder,
                                                     const std::wstring& file = {});

// Makes Administrators the owner of a file this elevated run wrote, through its handle (opened
// with WRITE_OWNER), whatever owner the token gives new files: so that CheckFolderTrust accepts
// the state file and the journals. The error is "Making administrators the owner of <path>".
Result<> OwnByAdministrators(HANDLE file, const std::wstring& path);

// The warning of a run that deletes nothing in the folder for the reason given; packageGone: it
// also says that Tovik was removed from Windows all the same.
std::wstring NothingDeletedText(const std::wstring& folder, const FolderDistrust& distrust,
                                bool packageGone = false);

namespace Detail
{

// What an access list is judged for: the folder itself, a file in it, or the folder's parent,
// which only must not let others delete or rename what is in it.
enum class TrustRole
{
    Folder,
    File,
    Parent,
};

struct TrustFinding
{
    Distrust reason = Distrust::Owner;
    std::wstring account; // the account's name, or its SID text when it has none
};

// The decision, on one security descriptor (owner and DACL): empty when it passes for its role;
// for the parent, what it finds is always a Renamer (whoever may take the parent may rename the
// folder in it), and entries that only pass on to what is created in it do not count.
// Administrators, SYSTEM and TrustedInstaller are trusted, as is CREATOR OWNER (its entries only
// pass on to what an owner creates); ownerStandIn (may be null) is trusted too: the account that
// stands for administrators where the file system keeps no owners (OwnerStandIn).
// Object entries count as plain allows whatever object types they name, and an allow entry whose
// account cannot be read as one that grants everything.
std::optional<TrustFinding> JudgeDescriptor(PSECURITY_DESCRIPTOR descriptor, TrustRole role,
                                            PSID ownerStandIn);

// The caller's account, as a SID in the returned bytes, when this PC's file system keeps no
// owner: a file this elevated process creates with Administrators as its owner reports the
// caller's account instead. Wine's folders, which map onto Unix files, do so, and Wine is known
// by its ntdll's wine_get_version export; Windows' NTFS never does, and there the caller's account
// is one its unelevated programs share. Empty otherwise.
const std::vector<BYTE>& OwnerStandIn();

// The same for the ntdll given: the seam that shows a module without the export gives none.
std::vector<BYTE> OwnerStandInFor(HMODULE ntdll);

} // namespace Detail

} // namespace Pd::Install
