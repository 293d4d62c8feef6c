#include "release/unpack/StagedFiles.h"

#include "release/unpack/RenameOver.h"
#include "tests/core/ScratchFolder.h"
#include "tests/release/Helpers.h"
#include "tests/release/LoopbackServer.h"

#include <gtest/gtest.h>

#include <chrono>

namespace
{

using Pd::Install::StagedFile;
using Pd::Install::StagedFiles;
namespace fs = std::filesystem;

// Whether another opener can read the file (a staged file is held exclusively).
bool CanOpen(const fs::path& file)
{
    Pd::UniqueFile handle(::CreateFileW(file.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
    return static_cast<bool>(handle);
}

std::unique_ptr<StagedFile> Staged(const fs::path& target, std::string_view content)
{
    auto file = std::make_unique<StagedFile>();
    EXPECT_TRUE(file->Open(target.wstring()));
    EXPECT_TRUE(file->Write(content.data(), content.size()));
    EXPECT_TRUE(file->Flush());
    return file;
}

TEST(StagedFile, WritesBesideTheTargetInNewFoldersAndReplacesAReadOnlyTargetOnCommit)
{
    PdTest::ScratchFolder folder;
    fs::path target = folder.Write(L"system.img", "old");
    ::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    folder.Write(L"system.img.new", "left over from an earlier run, much longer");
    auto file = Staged(target, "new content");
    EXPECT_EQ(PdTest::ReadBytes(target), "old");
    EXPECT_TRUE(fs::exists(target.wstring() + L".new"));
    EXPECT_FALSE(CanOpen(target.wstring() + L".new"));
    EXPECT_EQ(file->BytesWritten(), 11u);

    ASSERT_TRUE(file->Commit());
    EXPECT_TRUE(file->TemporaryPath().empty());
    EXPECT_FALSE(CanOpen(target)); // still held, now under the target's name
    file.reset();
    EXPECT_EQ(PdTest::ReadBytes(target), "new content");
    EXPECT_FALSE(fs::exists(target.wstring() + L".new"));
    EXPECT_EQ(::GetFileAttributesW(target.c_str()) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN), 0u);

    // A read-only target with another name (a hard link) is replaced under its own name only; the
    // other name keeps the file and its attribute.
    const fs::path linked = folder.Write(L"linked.img", "shared");
    ASSERT_TRUE(::CreateHardLinkW((folder.Path() / L"other name").c_str(), linked.c_str(), nullptr));
    ::SetFileAttributesW(linked.c_str(), FILE_ATTRIBUTE_READONLY);
    auto replacing = Staged(linked, "replaced");
    ASSERT_TRUE(replacing->Commit());
    replacing.reset();
    EXPECT_EQ(PdTest::ReadBytes(linked), "replaced");
    EXPECT_EQ(PdTest::ReadBytes(folder.Path() / L"other name"), "shared");
    EXPECT_NE(::GetFileAttributesW((folder.Path() / L"other name").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    ::SetFileAttributesW((folder.Path() / L"other name").c_str(), FILE_ATTRIBUTE_NORMAL);

    fs::path deeper = folder.Path() / L"a" / L"b" / L"c.bin";
    auto other = Staged(deeper, "x");
    ASSERT_TRUE(other->Commit());
    other.reset();
    EXPECT_EQ(PdTest::ReadBytes(deeper), "x");
}

TEST(StagedFile, OpeningWhereNoFileCanBeCreatedNamesTheTemporaryPath)
{
    PdTest::ScratchFolder folder;
    fs::create_directories(folder.Path() / L"x.new"); // a folder where the temporary file belongs
    StagedFile file;
    auto opened = file.Open((folder.Path() / L"x").wstring());
    ASSERT_FALSE(opened);
    EXPECT_TRUE(opened.error().starts_with(L"Creating " + (folder.Path() / L"x.new").wstring() + L": "))
        << opened.error();
    EXPECT_TRUE(fs::is_directory(folder.Path() / L"x.new")); // nothing of the caller's is deleted
}

TEST(StagedFiles, CommitStopsAtTheFirstFailureAndDropsTheRestUncommitted)
{
    PdTest::ScratchFolder folder;
    fs::path first = folder.Write(L"first", "old 1");
    fs::path second = folder.Path() / L"second";
    fs::create_directories(second / L"inside"); // a folder cannot be replaced by a file
    fs::path third = folder.Write(L"third", "old 3");
    {
        StagedFiles list;
        list.Add(Staged(first, "new 1"));
        StagedFiles more;
        more.Add(Staged(second, "new 2"));
        more.Add(Staged(third, "new 3"));
        list.Append(std::move(more));
        EXPECT_EQ(more.Size(), 0u);
        ASSERT_EQ(list.Size(), 3u);

        auto committed = list.CommitAll();
        ASSERT_FALSE(committed);
        EXPECT_TRUE(committed.error().starts_with(L"Replacing " + second.wstring() + L": "))
            << committed.error();
        EXPECT_FALSE(fs::exists(first.wstring() + L".new"));
        EXPECT_TRUE(fs::exists(second.wstring() + L".new"));
    }
    EXPECT_EQ(PdTest::ReadBytes(first), "new 1");
    EXPECT_FALSE(fs::exists(second.wstring() + L".new"));
    EXPECT_FALSE(fs::exists(third.wstring() + L".new"));
    EXPECT_EQ(PdTest::ReadBytes(third), "old 3");
    EXPECT_TRUE(fs::is_directory(second));
}

Pd::UniqueFile Hold(const fs::path& file, DWORD access, DWORD share, DWORD flags = 0)
{
    return Pd::UniqueFile(::CreateFileW(file.c_str(), access, share, nullptr, OPEN_EXISTING, flags, nullptr));
}

// Another program is named only when a handle to the target still stands in the way when the wait
// is over; a folder in the file's place is no reader. Before a run replaces anything, where renames
// have POSIX semantics only a handle that does not share deleting stands in the way (Peldra's own
// readers share it); elsewhere, Wine included, every handle does, since the rename fails beside it
// (code 5). The rename goes into the checked folder's handle: another folder at its path since (a
// link, in an attack) is not written into, nor is the checked one under its new name (Wine would
// follow the path).
TEST(RenameOver, AFileStillHeldOpenIsReportedAsHeldByAnotherProgram)
{
    PdTest::ScratchFolder scratch;
    const fs::path folder = scratch.Path() / L"Tovik";
    fs::create_directories(folder / L"release.json" / L"inside");
    const fs::path target = scratch.Write(L"Tovik\\release.cat", "old");
    const fs::path json = folder / L"release.json";
    Pd::UniqueFile file = Hold(scratch.Write(L"release.cat.new", "new"), GENERIC_WRITE | DELETE, 0);
    Pd::UniqueFile parent = Hold(folder, FILE_TRAVERSE | FILE_READ_ATTRIBUTES, 7, FILE_FLAG_BACKUP_SEMANTICS);
    ASSERT_TRUE(file && parent);
    const std::wstring held =
        L"Another program has " + target.wstring() + L" open. Close it and run the command again.";
    using Pd::Install::RenameSemantics;
    ASSERT_EQ(Pd::Install::RenameSemanticsAt(target.wstring()), RenameSemantics::Plain) << "Wine's volumes";
    for (const DWORD share : {FILE_SHARE_READ, FILE_SHARE_READ | FILE_SHARE_DELETE})
    {
        Pd::UniqueFile reader = Hold(target, GENERIC_READ, share);
        EXPECT_EQ(PdTest::ErrorOf(Pd::Install::WaitUntilReplaceable(target.wstring(), {})),
                  held + L" (code 32)");
        const auto posix = Pd::Install::WaitUntilReplaceable(target.wstring(), {}, RenameSemantics::Posix);
        EXPECT_EQ(PdTest::ErrorOf(posix),
                  share & FILE_SHARE_DELETE ? std::wstring(L"(no error)") : held + L" (code 32)");
        EXPECT_EQ(PdTest::ErrorOf(Pd::Install::RenameOver(file.Get(), parent.Get(), L"release.cat",
                                                          target.wstring(), {})),
                  held + L" (code 5)");
    }
    EXPECT_TRUE(Pd::Install::WaitUntilReplaceable(target.wstring(), {}));
    EXPECT_TRUE(Pd::Install::WaitUntilReplaceable(json.wstring(), {}));
    EXPECT_TRUE(
        PdTest::ErrorOf(Pd::Install::RenameOver(file.Get(), parent.Get(), L"release.json", json.wstring()))
            .starts_with(L"Replacing " + json.wstring() + L": "));

    fs::rename(folder, scratch.Path() / L"Moved");
    fs::create_directories(folder);
    EXPECT_EQ(
        PdTest::ErrorOf(Pd::Install::RenameOver(file.Get(), parent.Get(), L"release.cat", target.wstring())),
        target.wstring() + L" is reached through a link, junction or mount point: Peldra does not write "
                           L"through it. Remove the link and try again.");
    EXPECT_TRUE(fs::is_empty(folder));
    EXPECT_EQ(PdTest::ReadBytes(scratch.Path() / L"Moved" / L"release.cat"), "old");
    fs::remove(folder);
    fs::rename(scratch.Path() / L"Moved", folder);
    ASSERT_TRUE(Pd::Install::RenameOver(file.Get(), parent.Get(), L"release.cat", target.wstring(), {}));
    file.Reset();
    EXPECT_EQ(PdTest::ReadBytes(target), "new");
}

// A refusal while the probe finds no other handle is the file's permissions, named at once and not
// after the wait. Wine renames over read-only files, but refuses a rename over a file that is open
// only for its attributes, which the probe does not see: the same road. Where Windows renames past
// such a handle, the file is simply replaced.
TEST(RenameOver, ARefusalThatNoOtherHandleExplainsIsNamedAtOnce)
{
    PdTest::ScratchFolder folder;
    const fs::path target = folder.Write(L"peldra.json", "old");
    Pd::UniqueFile file = Hold(folder.Write(L"peldra.json.new", "new"), GENERIC_WRITE | DELETE, 0);
    Pd::UniqueFile parent = Hold(folder.Path(), FILE_TRAVERSE, 7, FILE_FLAG_BACKUP_SEMANTICS);
    Pd::UniqueFile attributesOnly = Hold(target, FILE_READ_ATTRIBUTES, 7);
    ASSERT_TRUE(file && parent && attributesOnly);
    const auto start = std::chrono::steady_clock::now();
    auto renamed = Pd::Install::RenameOver(file.Get(), parent.Get(), L"peldra.json", target.wstring());
    EXPECT_LT(std::chrono::steady_clock::now() - start, Pd::Install::ReaderWait / 2);
    EXPECT_EQ(renamed ? L"" : renamed.error(),
              renamed
                  ? L""
                  : L"Windows does not let Peldra replace " + target.wstring() +
                        L", and no other program has it open: the file's permissions refuse it. (code 5)");
}

// The decision after a refused rename, which only real Windows reaches in every row (read-only
// files, access lists).
TEST(RenameOver, TheStepAfterARefusedRenameFollowsWhatTheProbeFound)
{
    using enum Pd::Install::TargetUse;
    using Step = Pd::Install::RenameStep;
    constexpr DWORD Denied = ERROR_ACCESS_DENIED;
    struct Row
    {
        DWORD error;
        bool file;
        Pd::Install::TargetUse probe;
        bool timeUp, freeBefore;
        Step step;
    };
    const Row rows[] = {
        {Denied, true, HeldElsewhere, false, false, Step::Retry},
        {ERROR_SHARING_VIOLATION, true, HeldElsewhere, false, true, Step::Retry},
        {Denied, true, HeldElsewhere, true, false, Step::HeldElsewhere},
        // A reader may let go between the rename and the probe: one more try, then no wait.
        {Denied, true, Free, false, false, Step::Retry},
        {Denied, true, Free, false, true, Step::Refused},
        {Denied, true, Refused, false, true, Step::Refused},
        {Denied, true, Free, true, false, Step::Refused},
        // Gone meanwhile, or nothing known: tried again while the wait lasts.
        {Denied, true, Missing, false, true, Step::Retry},
        {Denied, true, Unknown, true, false, Step::Failed},
        // A folder in the file's place, or an error no other program causes.
        {Denied, false, Unknown, false, false, Step::Failed},
        {ERROR_DISK_FULL, true, HeldElsewhere, false, false, Step::Failed},
    };
    for (std::size_t i = 0; i < std::size(rows); ++i)
        EXPECT_EQ(Pd::Install::NextRenameStep(rows[i].error, rows[i].file, rows[i].probe, rows[i].timeUp,
                                              rows[i].freeBefore),
                  rows[i].step)
            << "row " << i;
}

TEST(StagedFiles, CommitAllSkipsWhatIsCommittedAndEmptiesTheList)
{
    PdTest::ScratchFolder folder;
    fs::path a = folder.Path() / L"a";
    fs::path b = folder.Path() / L"b";
    StagedFiles list;
    list.Add(Staged(a, "A"));
    list.Add(Staged(b, "B"));
    ASSERT_TRUE(list.CommitAll());
    EXPECT_EQ(list.Size(), 0u);
    EXPECT_EQ(PdTest::ReadBytes(a), "A");
    EXPECT_EQ(PdTest::ReadBytes(b), "B");

    auto c = Staged(folder.Path() / L"c", "C");
    ASSERT_TRUE(c->Commit());
    list.Add(std::move(c));
    EXPECT_TRUE(list.CommitAll());
    EXPECT_EQ(list.Size(), 0u);
    EXPECT_EQ(PdTest::ReadBytes(folder.Path() / L"c"), "C");
}

TEST(StagedFile, RelativeTargetsAreCommittedWhereTheyWereOpened)
{
    PdTest::ScratchFolder folder;
    wchar_t previous[MAX_PATH];
    ::GetCurrentDirectoryW(MAX_PATH, previous);
    ::SetCurrentDirectoryW(folder.Path().c_str());
    auto file = Staged(L"relative.bin", "r");
    fs::create_directory(folder.Path() / L"elsewhere");
    ::SetCurrentDirectoryW((folder.Path() / L"elsewhere").c_str());
    EXPECT_TRUE(file->Commit());
    file.reset();
    ::SetCurrentDirectoryW(previous);
    EXPECT_EQ(PdTest::ReadBytes(folder.Path() / L"relative.bin"), "r");
}

} // namespace
