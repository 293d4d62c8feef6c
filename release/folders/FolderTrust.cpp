#include "release/folders/FolderTrust.h"

#include "core/ErrorText.h"
#include "core/Handles.h"
#include "core/Strings.h"
#include "core/Text.h"
#include "release/base/OpenPath.h"
#include "release/folders/NoLinks.h"

#include <aclapi.h>
#include <sddl.h>

#include <cstddef>
#include <filesystem>

namespace Pd::Install
{
namespace
{

constexpr wchar_t TrustedInstallerSid[] = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// Rights that let an account change a folder or file, or what is in a folder; DELETE on the folder
// itself and FILE_DELETE_CHILD on its parent are the rights to rename or delete it.
constexpr ACCESS_MASK ChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | WRITE_DAC |
                                     WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
constexpr ACCESS_MASK ParentRenameRights = FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER | GENERIC_ALL;

constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

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

bool IsTrusted(PSID sid, PSID standIn)
{
    if (!sid || !::IsValidSid(sid))
        return false;
    for (WELL_KNOWN_SID_TYPE type : {WinBuiltinAdministratorsSid, WinLocalSystemSid})
        if (::IsWellKnownSid(sid, type))
            return true;
    PSID installer = nullptr;
    if (::ConvertStringSidToSidW(TrustedInstallerSid, &installer))
    {
        UniqueLocal owner(installer);
        if (::EqualSid(sid, installer))
            return true;
    }
    return standIn && ::EqualSid(sid, standIn);
}

std::vector<BYTE> ProcessUser()
{
    UniqueHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Put()))
        return {};
    DWORD needed = 0;
    ::GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &needed);
    std::vector<BYTE> user(needed);
    if (needed == 0 || !::GetTokenInformation(token.Get(), TokenUser, user.data(), needed, &needed))
        return {};
    const PSID sid = reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid;
    return std::vector<BYTE>(static_cast<const BYTE*>(sid),
                             static_cast<const BYTE*>(sid) + ::GetLengthSid(sid));
}

// The rights and the account an entry of an access list grants. Deny entries only take rights
// away, and audit, alarm and label entries grant none: they give nothing. An object entry's types
// only narrow it to parts of an object, which files and folders do not have, so it counts as a
// plain allow whatever types it names. An allow entry whose account cannot be read (a compound
// entry, a cut one) counts as granting everything to an unknown account.
constexpr std::size_t MinimumSidSize = 8; // revision, count, authority: no sub-authority

struct Grant
{
    ACCESS_MASK mask = 0;
    PSID sid = nullptr; // null: unknown
};

std::optional<Grant> GrantOf(void* entry)
{
    const auto* header = static_cast<const ACE_HEADER*>(entry);
    switch (header->AceType)
    {
    case ACCESS_ALLOWED_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_ACE_TYPE: // the same layout
    {
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        const std::size_t sidOffset = offsetof(ACCESS_ALLOWED_ACE, SidStart);
        PSID sid = &allowed->SidStart;
        if (header->AceSize < sidOffset + MinimumSidSize || !::IsValidSid(sid) ||
            sidOffset + ::GetLengthSid(sid) > header->AceSize)
            return Grant{GENERIC_ALL, nullptr};
        return Grant{allowed->Mask, sid};
    }
    case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE: // the same layout
    {
        auto* object = static_cast<ACCESS_ALLOWED_OBJECT_ACE*>(entry);
        constexpr std::size_t fixed = offsetof(ACCESS_ALLOWED_OBJECT_ACE, ObjectType);
        if (header->AceSize < fixed)
            return Grant{GENERIC_ALL, nullptr};
        // The types are there only when their flags say so; the account follows them.
        const std::size_t sidOffset =
            fixed + ((object->Flags & ACE_OBJECT_TYPE_PRESENT) ? sizeof(GUID) : 0) +
            ((object->Flags & ACE_INHERITED_OBJECT_TYPE_PRESENT) ? sizeof(GUID) : 0);
        PSID sid = reinterpret_cast<BYTE*>(entry) + sidOffset;
        if (header->AceSize < sidOffset + MinimumSidSize || !::IsValidSid(sid) ||
            sidOffset + ::GetLengthSid(sid) > header->AceSize)
            return Grant{GENERIC_ALL, nullptr};
        return Grant{object->Mask, sid};
    }
    case ACCESS_ALLOWED_COMPOUND_ACE_TYPE:
        return Grant{GENERIC_ALL, nullptr};
    default:
        return std::nullopt;
    }
}

// The volume's serial number and the path on it that a handle was resolved to.
struct Place
{
    DWORD volume = 0;
    std::wstring path;
};

std::expected<Place, DWORD> PlaceOf(HANDLE handle)
{
    BY_HANDLE_FILE_INFORMATION file{};
    std::vector<std::uint8_t> buffer(sizeof(FILE_NAME_INFO) + 32768 * sizeof(wchar_t));
    auto* name = reinterpret_cast<FILE_NAME_INFO*>(buffer.data());
    if (!::GetFileInformationByHandle(handle, &file) ||
        !::GetFileInformationByHandleEx(handle, FileNameInfo, name, static_cast<DWORD>(buffer.size())))
        return std::unexpected(::GetLastError());
    std::wstring path(name->FileName, name->FileNameLength / sizeof(wchar_t));
    while (path.size() > 1 && (path.back() == L'\\' || path.back() == L'/'))
        path.pop_back();
    return Place{file.dwVolumeSerialNumber, Core::ToLower(path)};
}

std::wstring ParentOf(const std::wstring& path)
{
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos || slash == 0 ? std::wstring(L"\\") : path.substr(0, slash);
}

FolderDistrust Unreadable(const std::wstring& path, DWORD error)
{
    return {Distrust::Unreadable, path,
            Core::ErrorText(Core::FormatText(TextId::ReadingAccessList, path), error)};
}

// What an entry is opened as: the folder and the file as themselves, never through a final link;
// the parent as whatever its path leads to (a share's root, a mount point), since it is judged
// only as the folder's own parent by handle.
enum class Entry
{
    Folder,
    File,
    Parent,
};

std::expected<UniqueFile, FolderDistrust> OpenEntry(const std::wstring& path, Entry kind)
{
    const DWORD asItself = kind == Entry::Parent ? 0 : FILE_FLAG_OPEN_REPARSE_POINT;
    UniqueFile entry = OpenPath(LongPathForm(path), READ_CONTROL | FILE_READ_ATTRIBUTES, ShareAll,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | asItself);
    if (!entry)
        return std::unexpected(Unreadable(path, ::GetLastError()));
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!::GetFileInformationByHandleEx(entry.Get(), FileAttributeTagInfo, &tag, sizeof(tag)))
        return std::unexpected(Unreadable(path, ::GetLastError()));
    if (kind == Entry::Parent)
        return entry;
    // Wine shows a Unix link to a folder by its path's attributes only.
    const DWORD byPath = EntryAttributes(LongPathForm(path));
    if ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        (byPath != INVALID_FILE_ATTRIBUTES && (byPath & FILE_ATTRIBUTE_REPARSE_POINT)) ||
        ((tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) != (kind == Entry::Folder))
        return std::unexpected(
            FolderDistrust{Distrust::Unreadable, path, Core::FormatText(TextId::IsLinkOrMountPoint, path)});
    return entry;
}

std::expected<void, FolderDistrust> Judge(HANDLE entry, const std::wstring& path, Detail::TrustRole role)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD error =
        ::GetSecurityInfo(entry, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                          nullptr, nullptr, nullptr, nullptr, &descriptor);
    if (error != ERROR_SUCCESS)
        return std::unexpected(Unreadable(path, error));
    const UniqueLocal owner(descriptor);
    const std::vector<BYTE>& standIn = Detail::OwnerStandIn();
    const auto finding = Detail::JudgeDescriptor(
        descriptor, role, standIn.empty() ? nullptr : const_cast<BYTE*>(standIn.data()));
    if (!finding)
        return {};
    const TextId text = finding->reason == Distrust::Owner    ? TextId::TrustOwner
                        : finding->reason == Distrust::Writer ? TextId::TrustWriter
                                                              : TextId::TrustRenamer;
    return std::unexpected(
        FolderDistrust{finding->reason, path, Core::FormatText(text, path, finding->account)});
}

} // namespace

namespace Detail
{

std::optional<TrustFinding> JudgeDescriptor(PSECURITY_DESCRIPTOR descriptor, TrustRole role,
                                            PSID ownerStandIn)
{
    // Whoever may take the parent may rename the folder in it: that is all that matters of it.
    const auto found = [role](Distrust reason, std::wstring account) {
        return TrustFinding{role == TrustRole::Parent ? Distrust::Renamer : reason, std::move(account)};
    };
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if (!::GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || !IsTrusted(owner, ownerStandIn))
        return found(Distrust::Owner, owner ? AccountName(owner) : L"?");
    BOOL present = FALSE;
    PACL list = nullptr;
    if (!::GetSecurityDescriptorDacl(descriptor, &present, &list, &defaulted) || !present || !list)
    {
        // No access list at all: everyone may do everything.
        BYTE everyone[SECURITY_MAX_SID_SIZE];
        DWORD size = sizeof(everyone);
        return found(Distrust::Writer, ::CreateWellKnownSid(WinWorldSid, nullptr, everyone, &size)
                                           ? AccountName(everyone)
                                           : L"?");
    }
    for (DWORD index = 0; index < list->AceCount; ++index)
    {
        void* entry = nullptr;
        if (!::GetAce(list, index, &entry))
            continue;
        const auto* header = static_cast<const ACE_HEADER*>(entry);
        const std::optional<Grant> grant = GrantOf(entry);
        if (!grant)
            continue;
        // An entry that only passes on to what is created in the parent gives no right on it;
        // in the folder, one passes on to the files a run creates there, so it counts.
        if (role == TrustRole::Parent && (header->AceFlags & INHERIT_ONLY_ACE))
            continue;
        const PSID sid = grant->sid;
        if (!sid)
            return found(Distrust::Writer, L"?");
        if (IsTrusted(sid, ownerStandIn) || ::IsWellKnownSid(sid, WinCreatorOwnerSid))
            continue;
        if (role == TrustRole::Parent ? (grant->mask & ParentRenameRights) != 0
                                      : (grant->mask & ChangeRights) != 0)
            return found(Distrust::Writer, AccountName(sid));
        if (role == TrustRole::Folder && (grant->mask & DELETE))
            return TrustFinding{Distrust::Renamer, AccountName(sid)};
        if (role == TrustRole::File && (grant->mask & DELETE))
            return TrustFinding{Distrust::Writer, AccountName(sid)};
    }
    return std::nullopt;
}

const std::vector<BYTE>& OwnerStandIn()
{
    static const std::vector<BYTE> standIn = OwnerStandInFor(::GetModuleHandleW(L"ntdll.dll"));
    return standIn;
}

std::vector<BYTE> OwnerStandInFor(HMODULE ntdll)
{
    if (!ntdll || !::GetProcAddress(ntdll, "wine_get_version"))
        return {};
    return ProcessUser();
}

} // namespace Detail

std::expected<void, FolderDistrust> CheckFolderTrust(const std::wstring& folder, const std::wstring& file)
{
    const std::wstring full = FullPath(folder);
    auto opened = OpenEntry(full, Entry::Folder);
    if (!opened)
        return std::unexpected(opened.error());
    auto place = PlaceOf(opened->Get());
    if (!place)
        return std::unexpected(Unreadable(full, place.error()));
    if (auto judged = Judge(opened->Get(), full, Detail::TrustRole::Folder); !judged)
        return judged;

    // The parent is opened by its text and must be the folder's own parent by handle: a folder
    // moved in between is judged by the parent it now has, or the check fails.
    const std::wstring parentPath = std::filesystem::path(full).parent_path().wstring();
    if (parentPath != full && place->path != L"\\")
    {
        auto parent = OpenEntry(parentPath, Entry::Parent);
        if (!parent)
            return std::unexpected(parent.error());
        auto parentPlace = PlaceOf(parent->Get());
        if (!parentPlace)
            return std::unexpected(Unreadable(parentPath, parentPlace.error()));
        if (parentPlace->volume != place->volume || parentPlace->path != ParentOf(place->path))
            return std::unexpected(FolderDistrust{Distrust::Unreadable, full,
                                                  Core::FormatText(TextId::ReachedThroughLink, full)});
        if (auto judged = Judge(parent->Get(), full, Detail::TrustRole::Parent); !judged)
            return judged;
    }

    if (file.empty())
        return {};
    const std::wstring fullFile = FullPath(file);
    if (EntryAttributes(LongPathForm(fullFile)) == INVALID_FILE_ATTRIBUTES &&
        ::GetLastError() == ERROR_FILE_NOT_FOUND)
        return {}; // nothing is read from a file that is not there
    auto entry = OpenEntry(fullFile, Entry::File);
    if (!entry)
        return std::unexpected(entry.error());
    auto entryPlace = PlaceOf(entry->Get());
    if (!entryPlace)
        return std::unexpected(Unreadable(fullFile, entryPlace.error()));
    if (entryPlace->volume != place->volume || !entryPlace->path.starts_with(place->path + L"\\"))
        return std::unexpected(FolderDistrust{Distrust::Unreadable, fullFile,
                                              Core::FormatText(TextId::ReachedThroughLink, fullFile)});
    return Judge(entry->Get(), fullFile, Detail::TrustRole::File);
}

Result<> OwnByAdministrators(HANDLE file, const std::wstring& path)
{
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(administrators);
    if (!::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size))
        return Fail(
            Core::ErrorText(Core::FormatText(TextId::SettingAdministratorsOwner, path), ::GetLastError()));
    const DWORD error = ::SetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, administrators,
                                          nullptr, nullptr, nullptr);
    if (error != ERROR_SUCCESS)
        return Fail(Core::ErrorText(Core::FormatText(TextId::SettingAdministratorsOwner, path), error));
    return {};
}

std::wstring NothingDeletedText(const std::wstring& folder, const FolderDistrust& distrust, bool packageGone)
{
    std::wstring reason = distrust.text;
    while (!reason.empty() && (reason.back() == L'.' || reason.back() == L' '))
        reason.pop_back();
    return Core::FormatText(packageGone ? TextId::FolderNotTrustedPackageGone : TextId::FolderNotTrusted,
                            folder, reason);
}

} // namespace Pd::Install
