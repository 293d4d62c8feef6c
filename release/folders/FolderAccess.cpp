#include "release/folders/FolderAccess.h"

#include "core/ErrorText.h"
#include "core/Text.h"
#include "release/base/OpenPath.h"
#include "release/folders/Folders.h"
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

// Administrators and SYSTEM full control, Users read and execute; protected, so that nothing is
// inherited from the folder above (a drive root lets every user create and change below it).
constexpr wchar_t InstallFolderSddl[] = L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;FRFX;;;BU)";
constexpr wchar_t TrustedInstallerSid[] = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// Rights that let an account change the folder or what is in it.
constexpr ACCESS_MASK WriteRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | DELETE |
                                    WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

std::wstring AccountName(PSID sid)
{
    wchar_t name[256];
    wchar_t domain[256];
    DWORD nameLength = 256;
    DWORD domainLength = 256;
    SID_NAME_USE use{};
    if (::LookupAccountSidW(nullptr, sid, name, &nameLength, domain, &domainLength, &use))
        return domainLength > 0 ? std::wstring(domain) + L"\\" + name : std::wstring(name);
    LPWSTR text = nullptr;
    if (!::ConvertSidToStringSidW(sid, &text))
        return L"?";
    UniqueLocal owner(reinterpret_cast<HLOCAL>(text));
    return text;
}

bool IsTrusted(PSID sid, PSID administrator)
{
    for (WELL_KNOWN_SID_TYPE type : {WinBuiltinAdministratorsSid, WinLocalSystemSid, WinCreatorOwnerSid})
        if (::IsWellKnownSid(sid, type))
            return true;
    PSID installer = nullptr;
    if (::ConvertStringSidToSidW(TrustedInstallerSid, &installer))
    {
        UniqueLocal owner(installer);
        if (::EqualSid(sid, installer))
            return true;
    }
    return administrator && ::EqualSid(sid, administrator);
}

// The caller's own account when it runs as an administrator (the elevated install does), as a
// TOKEN_USER; empty otherwise.
std::vector<BYTE> ElevatedUser()
{
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(administrators);
    BOOL member = FALSE;
    if (!::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size) ||
        !::CheckTokenMembership(nullptr, administrators, &member) || !member)
        return {};
    UniqueHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Put()))
        return {};
    DWORD needed = 0;
    ::GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &needed);
    std::vector<BYTE> user(needed);
    if (needed == 0 || !::GetTokenInformation(token.Get(), TokenUser, user.data(), needed, &needed))
        return {};
    return user;
}

Result<> RefuseOutsideWriters(const std::wstring& folder)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD error = ::GetNamedSecurityInfoW(LongPathForm(folder).c_str(), SE_FILE_OBJECT,
                                                OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                                nullptr, nullptr, nullptr, nullptr, &descriptor);
    if (error != ERROR_SUCCESS)
        return Fail(Core::ErrorText(Core::FormatText(TextId::ReadingAccessList, folder), error));
    UniqueLocal owner(descriptor);
    const std::vector<BYTE> user = ElevatedUser();
    const PSID administrator =
        user.empty() ? nullptr : reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid;
    if (const std::wstring writer = Detail::OutsideWriter(descriptor, administrator); !writer.empty())
        return Fail(
            HowToGoOn(Core::FormatText(TextId::InstallFolderWritableByOthers, folder, writer), folder));
    return {};
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

UniqueLocal InstallFolderDescriptor()
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(InstallFolderSddl, SDDL_REVISION_1,
                                                                &descriptor, nullptr))
        return {};
    return UniqueLocal(descriptor);
}

std::wstring OutsideWriter(PSECURITY_DESCRIPTOR descriptor, PSID administrator)
{
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if (::GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) && owner &&
        !IsTrusted(owner, administrator))
        return AccountName(owner);
    BOOL present = FALSE;
    PACL list = nullptr;
    if (!::GetSecurityDescriptorDacl(descriptor, &present, &list, &defaulted) || !present || !list)
    {
        // No access list at all: everyone may do everything.
        BYTE everyone[SECURITY_MAX_SID_SIZE];
        DWORD size = sizeof(everyone);
        return ::CreateWellKnownSid(WinWorldSid, nullptr, everyone, &size) ? AccountName(everyone) : L"?";
    }
    for (DWORD index = 0; index < list->AceCount; ++index)
    {
        void* entry = nullptr;
        if (!::GetAce(list, index, &entry))
            continue;
        const auto* header = static_cast<const ACE_HEADER*>(entry);
        // The callback form has the same layout; deny entries only take rights away.
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE && header->AceType != ACCESS_ALLOWED_CALLBACK_ACE_TYPE)
            continue;
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        PSID sid = &allowed->SidStart;
        if ((allowed->Mask & WriteRights) && !IsTrusted(sid, administrator))
            return AccountName(sid);
    }
    return {};
}

} // namespace Detail

Result<> PrepareInstallFolder(const std::wstring& folder, std::vector<std::wstring>* created)
{
    const std::wstring full = FullPath(folder);
    if (Core::IsVolumeRoot(full))
        return Fail(Core::FormatText(TextId::InstallFolderIsDriveRoot, full));
    const bool underProgramFiles = Core::IsUnderProgramFiles(full);
    if (EntryAttributes(LongPathForm(full)) == INVALID_FILE_ATTRIBUTES)
    {
        const UniqueLocal descriptor = underProgramFiles ? UniqueLocal() : Detail::InstallFolderDescriptor();
        if (auto made = CreateFolderChain(full, descriptor.Get(), created); !made)
            return made;
    }
    const DWORD attributes = EntryAttributes(LongPathForm(full));
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return Fail(Core::FormatText(TextId::IsLinkOrMountPoint, full));
    // Nor a link on the way to it: what the uninstall would refuse to remove is not installed.
    if (auto way = CheckWayFromDrive(full); !way)
        return way;
    // Also for a folder just created: another account may have made it first.
    return underProgramFiles ? Result<>{} : RefuseOutsideWriters(full);
}

} // namespace Pd::Install
