#include "release/folders/FolderAccess.h"

#include "core/ErrorText.h"
#include "core/Text.h"
#include "release/base/OpenPath.h"
#include "release/folders/Folders.h"
#include "release/folders/FolderTrust.h"
#include "release/folders/InstallFolderRules.h"
#include "release/folders/NoLinks.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <filesystem>
#include <vector>

namespace Pd::Install
{
namespace
{

// Owned by Administrators (without an explicit owner it would be the token's default owner, which
// a policy may make the user's own account); Administrators and SYSTEM full control, Users read
// and execute; protected, so that nothing is inherited from the folder above (a drive root lets
// every user create and change below it).
constexpr wchar_t InstallFolderSddl[] = L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;FRFX;;;BU)";
// In Program Files only the owner: the access list comes from Program Files.
constexpr wchar_t ProgramFilesFolderSddl[] = L"O:BA";

// The state file an update goes by is judged with its folder.
Result<> RefuseUntrusted(const std::wstring& folder)
{
    auto trusted = CheckFolderTrust(folder, Core::JoinPath(folder, L"peldra.json"));
    if (trusted)
        return {};
    const FolderDistrust& distrust = trusted.error();
    if (distrust.reason == Distrust::Unreadable)
        return Fail(distrust.text);
    // A folder in Program Files that others may change or own (an earlier version's, made with
    // the user as owner) is no folder the install creates there: its access is what to mend.
    std::wstring refusal = Core::FormatText(Core::IsUnderProgramFiles(folder)
                                                ? TextId::InstallFolderNotTrustedInProgramFiles
                                                : TextId::InstallFolderNotTrusted,
                                            distrust.text);
    // Whoever installed the release there, it is there: no claim on which version did.
    if (EntryAttributes(LongPathForm(Core::JoinPath(folder, L"peldra.json"))) != INVALID_FILE_ATTRIBUTES)
        refusal = Core::FormatText(TextId::FolderHoldsRelease, refusal);
    return Fail(std::move(refusal));
}

// Creates the folder and its missing parents; the first one created gets the descriptor (when
// given), and everything below it inherits its access list. Those it created are added to
// created (when given), deepest first.
Result<> CreateFolderChain(const std::wstring& folder, PSECURITY_DESCRIPTOR descriptor,
                           std::vector<std::wstring>* created)
{
    std::vector<std::wstring> missing;
    for (std::filesystem::path path(folder);
         EntryAttributes(LongPathForm(path.wstring())) == INVALID_FILE_ATTRIBUTES; path = path.parent_path())
    {
        missing.push_back(path.wstring());
        if (path.parent_path() == path)
            break;
    }
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
    for (auto next = missing.rbegin(); next != missing.rend(); ++next)
    {
        const bool first = next == missing.rbegin();
        if (::CreateDirectoryW(LongPathForm(*next).c_str(), first && descriptor ? &attributes : nullptr))
        {
            if (created)
                created->insert(created->begin(), *next);
        }
        else if (::GetLastError() != ERROR_ALREADY_EXISTS)
            return Fail(Core::ErrorText(Core::FormatText(TextId::CreatingFile, *next), ::GetLastError()));
    }
    return {};
}

} // namespace

namespace Detail
{

UniqueLocal InstallFolderDescriptor(bool underProgramFiles)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(underProgramFiles ? ProgramFilesFolderSddl
                                                                                  : InstallFolderSddl,
                                                                SDDL_REVISION_1, &descriptor, nullptr))
        return {};
    return UniqueLocal(descriptor);
}

std::wstring OutsideWriter(PSECURITY_DESCRIPTOR descriptor, PSID administrator)
{
    const auto finding = JudgeDescriptor(descriptor, TrustRole::Folder, administrator);
    return finding ? finding->account : std::wstring();
}

} // namespace Detail

Result<> PrepareInstallFolder(const std::wstring& folder, std::vector<std::wstring>* created)
{
    const std::wstring full = FullPath(folder);
    if (Core::IsVolumeRoot(full))
        return Fail(Core::FormatText(TextId::InstallFolderIsDriveRoot, full));
    if (EntryAttributes(LongPathForm(full)) == INVALID_FILE_ATTRIBUTES)
    {
        const UniqueLocal descriptor = Detail::InstallFolderDescriptor(Core::IsUnderProgramFiles(full));
        if (auto made = CreateFolderChain(full, descriptor.Get(), created); !made)
            return made;
    }
    const DWORD attributes = EntryAttributes(LongPathForm(full));
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return Fail(Core::FormatText(TextId::IsLinkOrMountPoint, full));
    // Nor a link on the way to it: what the uninstall would refuse to remove is not installed.
    if (auto way = CheckWayFromDrive(full); !way)
        return way;
    // Also for a folder just created, and in Program Files: another account may have made it
    // first, or the user may rename the folder away and put another in its place.
    return RefuseUntrusted(full);
}

} // namespace Pd::Install
