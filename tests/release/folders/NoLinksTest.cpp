// Nothing the install writes goes through a link planted in its folder (the install run's own
// case, links planted as "tools" and ".download", is shown on Peldra.exe by its end-to-end test), and only
// administrators may change an install folder outside Program Files. Wine reports a link to a folder by its
// path attributes but never a link to a file (nor through a handle); the resolved path of the handle shows
// both. Wine keeps no access lists: it derives one from the Unix mode bits, so the list the install sets is
// checked as built, and a world-writable Unix folder stands for a folder that every user may change.
#include "release/folders/NoLinks.h"
#include "core/Strings.h"
#include "core/Text.h"
#include "release/base/InstallFolder.h"
#include "release/folders/FileTree.h"
#include "release/folders/FolderAccess.h"
#include "release/folders/KnownFolder.h"
#include "release/folders/UserFolderFiles.h"
#include "release/unpack/StagedFiles.h"
#include "tests/core/ScratchFolder.h"
#include "tests/release/Helpers.h"
#include "tests/release/LoopbackServer.h"
#include "tests/support/UnixLink.h"

#include <windows.h>

#include <sddl.h>

#include <gtest/gtest.h>

namespace
{

namespace fs = std::filesystem;
using Pd::Core::ToUtf8;

// chmod (90) of the Unix file behind a Windows path.
bool UnixMode(const std::wstring& path, long mode)
{
    char* unix = PdTest::Detail::UnixPath(path);
    long result = -1;
    if (unix)
        asm volatile("syscall" : "=a"(result) : "a"(90L), "D"(unix), "S"(mode) : "rcx", "r11", "memory");
    ::HeapFree(::GetProcessHeap(), 0, unix);
    return result == 0;
}

class NoLinks : public testing::Test
{
protected:
    void SetUp() override
    {
        PdTest::WriteBytes(outside_ / L"kernel", "precious");
        PdTest::WriteBytes(outside_ / L"kernel.new", "precious");
        fs::create_directories(folder_);
        ASSERT_TRUE(links_.Make(outside_.wstring(), (folder_ / L"tools").wstring()));
        ASSERT_TRUE(links_.Make((outside_ / L"kernel.new").wstring(), (folder_ / L"kernel.new").wstring()));
    }
    void ExpectOutsideWhole() const
    {
        EXPECT_EQ(PdTest::ReadBytes(outside_ / L"kernel"), "precious");
        EXPECT_EQ(PdTest::ReadBytes(outside_ / L"kernel.new"), "precious");
        EXPECT_EQ(std::distance(fs::directory_iterator(outside_), fs::directory_iterator()), 2);
    }

    PdTest::ScratchFolder scratch_;
    fs::path outside_ = scratch_.Path() / L"outside";
    fs::path folder_ = scratch_.Path() / L"Tovik";
    PdTest::UnixLinks links_;
};

TEST_F(NoLinks, NothingIsCreatedOrOpenedForWritingThroughALink)
{
    const std::wstring folder = folder_.wstring();
    const std::wstring tools = (folder_ / L"tools").wstring();
    const std::wstring linkedFolder = Pd::Core::FormatText(Pd::TextId::IsLinkOrMountPoint, tools);
    const std::wstring behind =
        Pd::Core::FormatText(Pd::TextId::ReachedThroughLink, (folder_ / L"kernel.new").wstring());
    struct Case
    {
        const wchar_t* path;
        DWORD disposition;
        std::wstring error;
    };
    for (const Case& item :
         {Case{L"tools\\kernel", OPEN_EXISTING, linkedFolder},
          Case{L"tools\\fresh", CREATE_NEW, linkedFolder},
          Case{L"tools\\kernel.new", OPEN_ALWAYS, linkedFolder}, Case{L"kernel.new", OPEN_ALWAYS, behind},
          Case{L"kernel.new", OPEN_EXISTING, behind}})
    {
        auto file = Pd::Install::OpenBelow(folder, (folder_ / item.path).wstring(), GENERIC_WRITE, 0,
                                           item.disposition);
        ASSERT_FALSE(file) << ToUtf8(item.path);
        EXPECT_EQ(file.error(), item.error) << ToUtf8(item.path);
    }
    auto made = Pd::Install::CreateFoldersBelow(folder, tools + L"\\assets\\icons");
    ASSERT_FALSE(made);
    EXPECT_EQ(made.error(), linkedFolder);

    // The staged files of an unpack, and the resumed download that used to truncate its target.
    Pd::Install::StagedFile staged;
    auto opened = staged.Open(tools + L"\\kernel", folder);
    ASSERT_FALSE(opened);
    EXPECT_EQ(opened.error(), linkedFolder);
    EXPECT_FALSE(Pd::Install::DeleteBelow(folder, (folder_ / L"kernel.new").wstring()));
    ExpectOutsideWhole();

    // The same folder without links takes files.
    ASSERT_TRUE(Pd::Install::CreateFoldersBelow(folder, folder + L"\\assets\\icons"));
    auto file =
        Pd::Install::OpenBelow(folder, folder + L"\\assets\\icons\\a.png", GENERIC_WRITE, 0, CREATE_NEW);
    ASSERT_TRUE(file) << ToUtf8(file.error());
    EXPECT_TRUE(Pd::Install::CheckHandleBelow(file->Get(), folder, folder + L"\\assets\\icons\\a.png"));
}

// The install refuses up front what its uninstall would refuse to remove (a link on the way from
// the drive, or a short name the resolved path does not hold), and a folder made long where it
// enters passes both. Wine makes 8.3 names for long ones.
TEST_F(NoLinks, TheInstallRefusesTheFoldersTheUninstallWouldNotRemove)
{
    using Pd::Install::CheckWayFromDrive;
    const std::wstring tools = (folder_ / L"tools").wstring();
    const auto expectRefused = [](const std::wstring& folder, const std::wstring& error) {
        auto checked = CheckWayFromDrive(folder);
        ASSERT_FALSE(checked) << ToUtf8(folder);
        EXPECT_EQ(checked.error(), error);
    };
    expectRefused(tools + L"\\Tovik\\x",
                  Pd::Core::FormatText(Pd::TextId::ReachedThroughLink, tools + L"\\Tovik\\x"));
    expectRefused(tools, Pd::Core::FormatText(Pd::TextId::IsLinkOrMountPoint, tools));
    EXPECT_TRUE(CheckWayFromDrive((outside_ / L"Tovik").wstring()));

    const fs::path wide = folder_ / L"A Folder Of Long Name";
    fs::create_directories(wide / L"inner");
    wchar_t shortName[MAX_PATH] = {};
    ASSERT_GT(::GetShortPathNameW((wide / L"inner").c_str(), shortName, MAX_PATH), 0u);
    const std::wstring typed = std::wstring(shortName) + L"\\Tovik";
    ASSERT_NE(typed, (wide / L"inner\\Tovik").wstring());
    expectRefused(typed, Pd::Core::FormatText(Pd::TextId::ReachedThroughLink, typed));
    EXPECT_EQ(ToUtf8(Pd::Core::LongFolderPath(typed)), ToUtf8((wide / L"inner\\Tovik").wstring()));
    EXPECT_TRUE(CheckWayFromDrive(Pd::Core::LongFolderPath(typed)));
    // A folder recorded with a short name before installs made theirs long is removed all the same.
    EXPECT_TRUE(Pd::Install::RemoveTree(shortName, 0));
    EXPECT_FALSE(fs::exists(wide / L"inner"));
}

// Past MAX_PATH Wine gives no final path ("more data" whatever the buffer): files there are made
// and checked all the same, a link on the way is still found, and a handle whose place cannot be
// read at all is reported as a check that could not be made, never as a link.
TEST_F(NoLinks, PathsPastMaxPathAreCheckedAndACheckThatCannotBeMadeSaysSo)
{
    const std::wstring folder = folder_.wstring();
    const fs::path deep = folder_ / std::wstring(120, L'd') / std::wstring(120, L'e');
    const std::wstring kernel = (deep / L"kernel").wstring();
    ASSERT_GT(kernel.size(), std::size_t{MAX_PATH});
    ASSERT_TRUE(Pd::Install::CreateFoldersBelow(folder, deep.wstring()));
    auto file = Pd::Install::OpenBelow(folder, kernel, GENERIC_WRITE, 0, CREATE_NEW);
    ASSERT_TRUE(file) << ToUtf8(file.error());
    EXPECT_TRUE(Pd::Install::CheckHandleBelow(file->Get(), folder, kernel));

    const std::wstring linked = (deep / L"kernel.new").wstring();
    ASSERT_TRUE(links_.Make((outside_ / L"kernel.new").wstring(), linked));
    auto behind = Pd::Install::OpenBelow(folder, linked, GENERIC_WRITE, 0, OPEN_ALWAYS);
    ASSERT_FALSE(behind);
    EXPECT_EQ(behind.error(), Pd::Core::FormatText(Pd::TextId::ReachedThroughLink, linked));
    ExpectOutsideWhole();

    Pd::UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    auto unknown = Pd::Install::CheckHandleBelow(event.Get(), folder, kernel);
    ASSERT_FALSE(unknown);
    EXPECT_TRUE(
        unknown.error().starts_with(Pd::Core::FormatText(Pd::TextId::CheckingForLinks, kernel) + L": "))
        << ToUtf8(unknown.error());
}

// The elevated host's program log: a link planted as the data folder, or above it in the user's
// folders, is refused and nothing is written through it; the refusal says where and why.
TEST_F(NoLinks, TheProgramLogIsNeverWrittenThroughALinkInTheUsersFolders)
{
    const fs::path profile = scratch_.Path() / L"profile";
    fs::create_directories(profile / L"AppData" / L"Local");
    fs::create_directories(scratch_.Path() / L"elsewhere" / L"Local");
    ASSERT_TRUE(links_.Make(outside_.wstring(), (profile / L"AppData" / L"Local" / L"Peldra").wstring()));
    ASSERT_TRUE(links_.Make((scratch_.Path() / L"elsewhere").wstring(), (profile / L"Roaming").wstring()));
    for (const fs::path& folder :
         {profile / L"AppData" / L"Local" / L"Peldra", profile / L"Roaming" / L"Local" / L"Peldra"})
    {
        std::string problem;
        EXPECT_EQ(Pd::Install::OpenLogBelow(profile.wstring(), folder.wstring(), problem), nullptr);
        EXPECT_TRUE(
            problem.starts_with("not written to " + ToUtf8((folder / L"bluetooth.log").wstring()) + ": "))
            << problem;
        EXPECT_NE(problem.find("link, junction or mount point"), std::string::npos) << problem;
    }
    ExpectOutsideWhole();
    EXPECT_FALSE(fs::exists(scratch_.Path() / L"elsewhere" / L"Local" / L"Peldra"));

    // Without links the folder is made and the file appended to, by two writers at once.
    const fs::path folder = profile / L"AppData" / L"Local" / L"Real";
    std::string problem;
    std::FILE* first = Pd::Install::OpenLogBelow(profile.wstring(), folder.wstring(), problem);
    std::FILE* second = Pd::Install::OpenLogBelow(profile.wstring(), folder.wstring(), problem);
    ASSERT_TRUE(first && second) << problem;
    std::fputs("one\n", first);
    std::fflush(first);
    std::fputs("two\n", second);
    std::fclose(second);
    std::fputs("three\n", first);
    std::fclose(first);
    EXPECT_EQ(PdTest::ReadBytes(folder / L"bluetooth.log"), "one\ntwo\nthree\n");
    EXPECT_EQ(Pd::Install::UserFolderRoot(Pd::Install::KnownFolderPath(FOLDERID_LocalAppData)),
              Pd::Install::KnownFolderPath(FOLDERID_Profile));
}

TEST(FolderAccess, TheCreatedFoldersListLetsOnlyAdministratorsChangeIt)
{
    const Pd::UniqueLocal descriptor = Pd::Install::Detail::InstallFolderDescriptor();
    ASSERT_TRUE(descriptor);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(::GetSecurityDescriptorControl(descriptor.Get(), &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED) << "nothing inherited from the drive root";
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL list = nullptr;
    ASSERT_TRUE(::GetSecurityDescriptorDacl(descriptor.Get(), &present, &list, &defaulted) && list);
    std::vector<std::pair<WELL_KNOWN_SID_TYPE, ACCESS_MASK>> entries;
    for (DWORD index = 0; index < list->AceCount; ++index)
    {
        void* entry = nullptr;
        ASSERT_TRUE(::GetAce(list, index, &entry));
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        EXPECT_EQ(allowed->Header.AceFlags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
        for (WELL_KNOWN_SID_TYPE type : {WinBuiltinAdministratorsSid, WinLocalSystemSid, WinBuiltinUsersSid})
            if (::IsWellKnownSid(&allowed->SidStart, type))
                entries.emplace_back(type, allowed->Mask);
    }
    EXPECT_EQ(entries, (std::vector<std::pair<WELL_KNOWN_SID_TYPE, ACCESS_MASK>>{
                           {WinBuiltinAdministratorsSid, FILE_ALL_ACCESS},
                           {WinLocalSystemSid, FILE_ALL_ACCESS},
                           {WinBuiltinUsersSid, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE}}));
    EXPECT_EQ(Pd::Install::Detail::OutsideWriter(descriptor.Get(), nullptr), L"");
}

TEST(FolderAccess, AnAccountOtherThanAdministratorsThatMayChangeTheFolderIsNamed)
{
    struct Case
    {
        const wchar_t* sddl;
        const wchar_t* writer; // its name starts so
    };
    for (const Case& item : {
             Case{L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;FRFX;;;BU)", L""},
             Case{L"O:BAD:(A;OICI;FA;;;BA)(A;OICIIO;GA;;;CO)(A;;0x1200a9;;;WD)", L""},
             Case{L"O:BAD:(A;OICI;FA;;;BA)(A;OICIIO;SDGXGWGR;;;AU)", L"NT AUTHORITY\\Authenticated Users"},
             Case{L"O:BAD:(A;OICI;FA;;;BA)(A;CI;0x4;;;BU)", L"BUILTIN\\Users"},
             Case{L"O:BAD:(A;OICI;FA;;;BA)(A;;WD;;;BU)", L"BUILTIN\\Users"},
             Case{L"O:BUD:P(A;OICI;FA;;;BA)", L"BUILTIN\\Users"},
             Case{L"O:BAD:(D;OICI;FA;;;WD)(A;OICI;0x1301ff;;;WD)", L"Everyone"},
             Case{L"O:BA", L"Everyone"},
         })
    {
        PSECURITY_DESCRIPTOR raw = nullptr;
        ASSERT_TRUE(
            ::ConvertStringSecurityDescriptorToSecurityDescriptorW(item.sddl, SDDL_REVISION_1, &raw, nullptr))
            << ToUtf8(item.sddl);
        const Pd::UniqueLocal descriptor(raw);
        const std::wstring writer = Pd::Install::Detail::OutsideWriter(raw, nullptr);
        if (*item.writer == L'\0')
            EXPECT_EQ(writer, L"") << ToUtf8(item.sddl);
        else
            EXPECT_TRUE(writer.ends_with(item.writer) || writer.starts_with(item.writer))
                << ToUtf8(item.sddl) << " -> " << ToUtf8(writer);
    }
}

TEST(FolderAccess, DriveRootsLinksAndFoldersEveryoneMayChangeAreRefused)
{
    PdTest::ScratchFolder scratch;
    for (const wchar_t* root : {L"C:\\", L"C:", L"Z:\\tmp\\.."})
    {
        auto prepared = Pd::Install::PrepareInstallFolder(root);
        ASSERT_FALSE(prepared) << ToUtf8(root);
        EXPECT_TRUE(prepared.error().ends_with(L" is the root of a drive and cannot be the install folder: "
                                               L"choose a folder on it."))
            << ToUtf8(prepared.error());
    }

    const fs::path shared = scratch.Path() / L"shared";
    fs::create_directories(shared);
    ASSERT_TRUE(UnixMode(shared.wstring(), 0777));
    auto prepared = Pd::Install::PrepareInstallFolder(shared.wstring());
    ASSERT_FALSE(prepared);
    EXPECT_TRUE(prepared.error().starts_with(shared.wstring() + L" can be changed by Everyone, not only by "
                                                                L"administrators"))
        << ToUtf8(prepared.error());

    PdTest::UnixLinks links;
    ASSERT_TRUE(links.Make((scratch.Path() / L"own").wstring(), (scratch.Path() / L"link").wstring()));
    fs::create_directories(scratch.Path() / L"own");
    prepared = Pd::Install::PrepareInstallFolder((scratch.Path() / L"link").wstring());
    ASSERT_FALSE(prepared);
    EXPECT_EQ(prepared.error(),
              Pd::Core::FormatText(Pd::TextId::IsLinkOrMountPoint, (scratch.Path() / L"link").wstring()));

    // A new folder, with a missing parent, is created and accepted; so is an administrator's own.
    const fs::path fresh = scratch.Path() / L"new" / L"Tovik";
    prepared = Pd::Install::PrepareInstallFolder(fresh.wstring());
    EXPECT_TRUE(prepared) << ToUtf8(prepared.error());
    EXPECT_TRUE(fs::is_directory(fresh));
    EXPECT_TRUE(Pd::Install::PrepareInstallFolder(scratch.Path().wstring()));
}

} // namespace
