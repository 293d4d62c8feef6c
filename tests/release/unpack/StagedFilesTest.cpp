#include "release/unpack/StagedFiles.h"

#include "release/unpack/RenameOver.h"
#include "tests/core/ScratchFolder.h"
#include "tests/release/Helpers.h"
#include "tests/release/LoopbackServer.h"

#include <gtest/gtest.h>

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

// A file that another program still holds open when the wait is over is named as held, with what
// to do; a folder in the file's place is no reader, and fails as a plain replacement.
TEST(RenameOver, AFileStillHeldOpenIsReportedAsHeldByAnotherProgram)
{
    PdTest::ScratchFolder folder;
    const fs::path target = folder.Write(L"release.cat", "old");
    const fs::path blocked = folder.Path() / L"release.json";
    fs::create_directories(blocked / L"inside");
    Pd::UniqueFile file(::CreateFileW(folder.Write(L"release.cat.new", "new").c_str(), GENERIC_WRITE | DELETE,
                                      0, nullptr, OPEN_EXISTING, 0, nullptr));
    Pd::UniqueFile held(
        ::CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file && held);
    EXPECT_EQ(PdTest::ErrorOf(Pd::Install::RenameOver(file.Get(), target.wstring(), {})),
              L"Another program has " + target.wstring() +
                  L" open. Close it and run the command again. (code 5)");
    EXPECT_TRUE(PdTest::ErrorOf(Pd::Install::RenameOver(file.Get(), blocked.wstring(), {}))
                    .starts_with(L"Replacing " + blocked.wstring() + L": "));
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
