// Whether a folder's own files may say what an elevated run deletes. The decision is judged on
// access lists written as SDDL, since only Windows keeps them; Wine derives owner and list from
// the Unix owner and mode bits and reports every file as the current user's, so what runs under
// Wine is the check through handles: a folder the install makes passes, and a world-writable
// Unix folder, parent or file stands for one that every user may change.
#include "release/folders/FolderTrust.h"

#include "core/Strings.h"
#include "core/Text.h"
#include "release/folders/FolderAccess.h"
#include "release/folders/KnownFolder.h"
#include "release/install/StagingJournal.h"
#include "tests/core/ScratchFolder.h"
#include "tests/release/Helpers.h"
#include "tests/support/UnixLink.h"

#include <windows.h>

#include <sddl.h>

#include <gtest/gtest.h>

namespace
{

namespace fs = std::filesystem;
using Pd::Core::ToUtf8;
using Pd::Install::Distrust;
using Pd::Install::Detail::TrustRole;

constexpr wchar_t ProgramFiles[] =
    L"O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"
    L"D:P(A;;FA;;;S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464)"
    L"(A;CIIO;GA;;;S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464)(A;;0x1301bf;;;SY)"
    L"(A;OICIIO;GA;;;SY)(A;;0x1301bf;;;BA)(A;OICIIO;GA;;;BA)(A;;0x1200a9;;;BU)(A;OICIIO;GXGR;;;BU)"
    L"(A;OICIIO;GA;;;CO)(A;;0x1200a9;;;AC)";

bool UnixMode(const fs::path& path, long mode)
{
    char* unix = PdTest::Detail::UnixPath(path.wstring());
    long result = -1;
    if (unix)
        asm volatile("syscall" : "=a"(result) : "a"(90L), "D"(unix), "S"(mode) : "rcx", "r11", "memory");
    ::HeapFree(::GetProcessHeap(), 0, unix);
    return result == 0;
}

struct ObjectAce
{
    const wchar_t* sid = nullptr;
    ACCESS_MASK mask = 0;
    DWORD types = 0; // ACE_OBJECT_TYPE_PRESENT, ACE_INHERITED_OBJECT_TYPE_PRESENT
    BYTE inheritance = 0;
};
constexpr DWORD BothTypes = ACE_OBJECT_TYPE_PRESENT | ACE_INHERITED_OBJECT_TYPE_PRESENT;
constexpr BYTE OICI = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
constexpr const wchar_t* Admins = L"O:BA"; // the list is the object entry alone
constexpr const wchar_t* UsersSid = L"S-1-5-32-545";

// A descriptor's owner with a list of one object entry, laid out as Windows does it: each type only
// where its flag says so, the account after them (Wine's SDDL reader knows no object entries).
struct WithObjectAce
{
    SECURITY_DESCRIPTOR descriptor{};
    std::vector<BYTE> entry, list;

    PSECURITY_DESCRIPTOR Build(PSECURITY_DESCRIPTOR from, const ObjectAce& ace)
    {
        PSID owner = nullptr, sid = nullptr;
        BOOL defaulted = FALSE;
        ::GetSecurityDescriptorOwner(from, &owner, &defaulted);
        ::ConvertStringSidToSidW(ace.sid, &sid);
        const Pd::UniqueLocal sidOwner(sid);
        const GUID type{0xbf967aba, 0x0de6, 0x11d0, {0xa2, 0x85, 0x00, 0xaa, 0x00, 0x30, 0x49, 0xe2}};
        const auto put = [this](const void* data, std::size_t length) {
            entry.insert(entry.end(), static_cast<const BYTE*>(data),
                         static_cast<const BYTE*>(data) + length);
        };
        entry.assign({ACCESS_ALLOWED_OBJECT_ACE_TYPE, ace.inheritance, 0, 0});
        put(&ace.mask, 4);
        put(&ace.types, 4);
        for (DWORD flag : {ACE_OBJECT_TYPE_PRESENT, ACE_INHERITED_OBJECT_TYPE_PRESENT})
            if (ace.types & flag)
                put(&type, sizeof(type));
        put(sid, ::GetLengthSid(sid));
        entry[2] = static_cast<BYTE>(entry.size());
        list.resize(sizeof(ACL) + entry.size());
        auto* acl = reinterpret_cast<ACL*>(list.data());
        ::InitializeAcl(acl, static_cast<DWORD>(list.size()), ACL_REVISION_DS);
        EXPECT_TRUE(::AddAce(acl, ACL_REVISION_DS, MAXDWORD, entry.data(), static_cast<DWORD>(entry.size())));
        ::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
        ::SetSecurityDescriptorOwner(&descriptor, owner, FALSE);
        ::SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE);
        return &descriptor;
    }
};

TEST(FolderTrust, OnlyAdministratorsMayOwnChangeOrRenameTheFolderAndItsFile)
{
    struct Case
    {
        const wchar_t* sddl;
        TrustRole role;
        bool standIn;                     // the user's SID below stands for administrators
        std::optional<Distrust> expected; // nothing: it passes
        const wchar_t* account = L"";     // the account named ends so
        ObjectAce object = {};            // added to the list when it names an account
    };
    const std::wstring user = L"S-1-5-21-1-2-3-1001";
    for (const Case& item : {
             // What the install gives a folder it creates, and Program Files, its usual parent.
             Case{L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;FRFX;;;BU)", TrustRole::Folder, false, {}},
             Case{ProgramFiles, TrustRole::Parent, false, {}},
             // A drive root: users may create folders in it and change only what they create.
             Case{L"O:SYD:(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICIIO;0x1301bf;;;AU)(A;;0x4;;;AU)(A;OICI;"
                  L"0x1200a9;;;BU)",
                  TrustRole::Parent,
                  false,
                  {}},
             Case{L"O:BAD:(A;;FA;;;BA)(A;;0x1200a9;;;WD)", TrustRole::File, false, {}},
             Case{L"O:BAD:(A;OICI;FA;;;BA)(A;OICIIO;GA;;;CO)(D;;FA;;;WD)", TrustRole::Folder, false, {}},
             // Owners other than administrators.
             Case{L"O:BUD:P(A;OICI;FA;;;BA)", TrustRole::Folder, false, Distrust::Owner, L"Users"},
             Case{L"O:BUD:P(A;;FA;;;BA)", TrustRole::File, false, Distrust::Owner, L"Users"},
             Case{L"O:BUD:P(A;;FA;;;BA)", TrustRole::Parent, false, Distrust::Renamer, L"Users"},
             // The user's own account is one its unelevated programs share, unless it stands in.
             Case{L"O:S-1-5-21-1-2-3-1001D:(A;OICI;FA;;;S-1-5-21-1-2-3-1001)(A;OICI;FA;;;SY)",
                  TrustRole::Folder, false, Distrust::Owner, L"S-1-5-21-1-2-3-1001"},
             Case{L"O:S-1-5-21-1-2-3-1001D:(A;OICI;FA;;;S-1-5-21-1-2-3-1001)(A;OICI;FA;;;SY)",
                  TrustRole::Folder,
                  true,
                  {}},
             // Others who may write: a shared folder users may create files in, a file, no list.
             Case{L"O:BAD:(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)(A;CI;0x116;;;BU)", TrustRole::Folder, false,
                  Distrust::Writer, L"Users"},
             Case{L"O:BAD:(A;;FA;;;BA)(A;;0x1201bf;;;AU)", TrustRole::File, false, Distrust::Writer,
                  L"Authenticated Users"},
             Case{L"O:BAD:(A;OICI;FA;;;BA)(A;;WD;;;BU)", TrustRole::Folder, false, Distrust::Writer,
                  L"Users"},
             Case{L"O:BA", TrustRole::Folder, false, Distrust::Writer, L"Everyone"},
             // DELETE renames or deletes the folder, and lets a file be replaced.
             Case{L"O:BAD:(A;OICI;FA;;;BA)(A;;SD;;;BU)", TrustRole::Folder, false, Distrust::Renamer,
                  L"Users"},
             Case{L"O:BAD:(A;;FA;;;BA)(A;;SD;;;BU)", TrustRole::File, false, Distrust::Writer, L"Users"},
             // In the parent: deleting children, or changing its list, renames the folder.
             Case{L"O:BAD:(A;;FA;;;BA)(A;;0x1200e9;;;BU)", TrustRole::Parent, false, Distrust::Renamer,
                  L"Users"},
             Case{L"O:BAD:(A;;FA;;;BA)(A;;WD;;;WD)", TrustRole::Parent, false, Distrust::Renamer,
                  L"Everyone"},
             Case{L"O:BA", TrustRole::Parent, false, Distrust::Renamer, L"Everyone"},
             // Object entries grant like plain ones, with or without object types; the account
             // after the types is read where the flags put it.
             Case{Admins, TrustRole::Folder, false, Distrust::Writer, L"Users", {UsersSid, FILE_ALL_ACCESS}},
             Case{Admins, TrustRole::File, false, Distrust::Writer, L"Authenticated Users",
                  ObjectAce{L"S-1-5-11", FILE_ALL_ACCESS, ACE_OBJECT_TYPE_PRESENT}},
             Case{Admins, TrustRole::Folder, false, Distrust::Renamer, L"Users",
                  ObjectAce{UsersSid, DELETE, BothTypes}},
             Case{Admins, TrustRole::File, false, std::nullopt, L"",
                  ObjectAce{UsersSid, FILE_GENERIC_READ, BothTypes}},
             Case{Admins, TrustRole::Parent, false, std::nullopt, L"",
                  ObjectAce{UsersSid, FILE_ALL_ACCESS, ACE_OBJECT_TYPE_PRESENT, OICI | INHERIT_ONLY_ACE}},
         })
    {
        SCOPED_TRACE(ToUtf8(item.sddl) + " role " + std::to_string(static_cast<int>(item.role)));
        PSECURITY_DESCRIPTOR raw = nullptr;
        ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(item.sddl, SDDL_REVISION_1, &raw,
                                                                           nullptr));
        const Pd::UniqueLocal descriptor(raw);
        WithObjectAce extended;
        if (item.object.sid)
            raw = extended.Build(raw, item.object);
        PSID sid = nullptr;
        ASSERT_TRUE(::ConvertStringSidToSidW(user.c_str(), &sid));
        const Pd::UniqueLocal sidOwner(sid);
        const auto finding =
            Pd::Install::Detail::JudgeDescriptor(raw, item.role, item.standIn ? sid : nullptr);
        ASSERT_EQ(finding.has_value(), item.expected.has_value())
            << (finding ? ToUtf8(finding->account) : "");
        if (finding)
        {
            EXPECT_EQ(finding->reason, *item.expected);
            EXPECT_TRUE(finding->account.ends_with(item.account)) << ToUtf8(finding->account);
        }
    }
}

TEST(FolderTrust, UnderWineTheFoldersTheInstallMakesPassAndWhatOthersMayChangeIsNamed)
{
    // Wine reports the current user as the owner of every file, whatever owner was asked for.
    std::vector<BYTE> user(SECURITY_MAX_SID_SIZE);
    {
        HANDLE token = nullptr;
        ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token));
        const Pd::UniqueHandle owner(token);
        std::vector<BYTE> buffer(512);
        DWORD size = 0;
        ASSERT_TRUE(::GetTokenInformation(token, TokenUser, buffer.data(), 512, &size));
        const PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
        user.assign(static_cast<BYTE*>(sid), static_cast<BYTE*>(sid) + ::GetLengthSid(sid));
    }
    // Wine is told apart by its ntdll's export alone: a module without it (Windows' ntdll) gets none.
    EXPECT_EQ(Pd::Install::Detail::OwnerStandIn(), user);
    EXPECT_TRUE(Pd::Install::Detail::OwnerStandInFor(::GetModuleHandleW(L"kernel32.dll")).empty());

    PdTest::ScratchFolder scratch;
    const fs::path folder = scratch.Path() / L"made" / L"Tovik";
    ASSERT_TRUE(Pd::Install::PrepareInstallFolder(folder.wstring()));
    const fs::path state = scratch.Write(L"made\\Tovik\\peldra.json", "{}");
    EXPECT_TRUE(Pd::Install::CheckFolderTrust(folder.wstring(), state.wstring()));
    EXPECT_TRUE(Pd::Install::CheckFolderTrust(folder.wstring(), (folder / L"missing.json").wstring()));

    struct Case
    {
        fs::path changed;
        Distrust reason;
        fs::path named;
    };
    for (const Case& item :
         {Case{folder, Distrust::Writer, folder}, Case{folder.parent_path(), Distrust::Renamer, folder},
          Case{state, Distrust::Writer, state}})
    {
        SCOPED_TRACE(ToUtf8(item.changed.wstring()));
        ASSERT_TRUE(UnixMode(item.changed, 0777));
        auto trusted = Pd::Install::CheckFolderTrust(folder.wstring(), state.wstring());
        ASSERT_FALSE(trusted);
        EXPECT_EQ(trusted.error().reason, item.reason);
        EXPECT_EQ(trusted.error().object, item.named.wstring());
        EXPECT_TRUE(trusted.error().text.starts_with(item.named.wstring() + L" can be "))
            << ToUtf8(trusted.error().text);
        EXPECT_NE(trusted.error().text.find(L"Everyone"), std::wstring::npos) << ToUtf8(trusted.error().text);
        // The install refuses the same folder, one the user can rename too.
        auto prepared = Pd::Install::PrepareInstallFolder(folder.wstring());
        ASSERT_FALSE(prepared);
        EXPECT_TRUE(
            prepared.error().starts_with(trusted.error().text + L", so it cannot be the install folder."))
            << ToUtf8(prepared.error());
        ASSERT_TRUE(UnixMode(item.changed, fs::is_directory(item.changed) ? 0750 : 0644));
    }

    // In Program Files too, where the text alone once passed.
    const fs::path programFiles = fs::path(Pd::Install::KnownFolderPath(FOLDERID_ProgramFiles)) /
                                  (L"PdTest-" + scratch.Path().filename().wstring());
    fs::create_directories(programFiles);
    ASSERT_TRUE(UnixMode(programFiles, 0777));
    auto prepared = Pd::Install::PrepareInstallFolder(programFiles.wstring());
    fs::remove_all(programFiles);
    ASSERT_FALSE(prepared);
    EXPECT_TRUE(prepared.error().starts_with(programFiles.wstring() + L" can be changed by Everyone"))
        << ToUtf8(prepared.error());

    // A link in the folder's place is refused as such.
    PdTest::UnixLinks links;
    ASSERT_TRUE(links.Make(folder.wstring(), (scratch.Path() / L"link").wstring()));
    auto linked = Pd::Install::CheckFolderTrust((scratch.Path() / L"link").wstring());
    ASSERT_FALSE(linked);
    EXPECT_EQ(linked.error().text,
              Pd::Core::FormatText(Pd::TextId::IsLinkOrMountPoint, (scratch.Path() / L"link").wstring()));
    EXPECT_EQ(Pd::Install::NothingDeletedText(folder.wstring(), linked.error()),
              Pd::Core::FormatText(Pd::TextId::FolderNotTrusted, folder.wstring(),
                                   linked.error().text.substr(0, linked.error().text.size() - 1)));
}

// The journals beside the downloads name staged files to delete: one that others may change is
// left whole, by the uninstall and by the install that would start the component's journal anew.
TEST(FolderTrust, AJournalOthersMayChangeIsLeftAndOneOnlyAdministratorsMayChangeIsUndone)
{
    PdTest::ScratchFolder scratch;
    const fs::path folder = scratch.Path() / L"Tovik";
    ASSERT_TRUE(Pd::Install::PrepareInstallFolder(folder.wstring()));
    const fs::path staged = scratch.Write(L"Tovik\\kernel.new", "staged");
    fs::create_directories(folder / L".download");
    const fs::path journal = scratch.Write(L"Tovik\\.download\\kernel.staged", "kernel.new\n");
    ASSERT_TRUE(UnixMode(journal, 0666));
    auto undone = Pd::Core::UndoStagingJournals(PdTest::InFolder(folder));
    ASSERT_FALSE(undone);
    EXPECT_TRUE(undone.error().starts_with(L"Peldra deletes nothing in " + folder.wstring() +
                                           L" that the files there list, since " + journal.wstring() +
                                           L" can be changed by Everyone"))
        << ToUtf8(undone.error());
    Pd::Core::StagingJournal started;
    EXPECT_EQ(started.Open(PdTest::InFolder(folder), L"kernel"), undone);
    EXPECT_TRUE(fs::exists(staged) && fs::exists(journal));

    ASSERT_TRUE(UnixMode(journal, 0644));
    EXPECT_TRUE(Pd::Core::UndoStagingJournals(PdTest::InFolder(folder)));
    EXPECT_FALSE(fs::exists(staged) || fs::exists(journal));
}

} // namespace
