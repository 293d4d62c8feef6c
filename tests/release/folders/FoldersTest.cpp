// Folders and files on disk: Program Files, free space, same files, and removing and measuring
// folder trees, with waits counted instead of slept and links made the Unix way (Wine cannot make
// Windows links).
#include "release/folders/Folders.h"
#include "release/folders/FileTree.h"
#include "release/folders/NoLinks.h"

#include "core/Handles.h"
#include "core/Text.h"
#include "tests/core/ScratchFolder.h"
#include "tests/release/Helpers.h"
#include "tests/release/LoopbackServer.h"
#include "tests/support/UnixLink.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <limits>
#include <string>

namespace
{

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Pd::Core::RelativePath;
using Pd::Install::DirectorySize;

TEST(ProgramFiles, OnlyFoldersBelowItInAnyLetterCaseAreUnderIt)
{
    const std::wstring programFiles = L"D:\\Program Files";
    for (const wchar_t* folder :
         {L"D:\\Program Files\\Peldra", L"d:\\PROGRAM FILES\\peldra\\", L"D:/Program Files/Peldra/./release"})
        EXPECT_TRUE(Pd::Core::Detail::IsUnderFolder(folder, programFiles)) << fs::path(folder).string();
    for (const wchar_t* folder :
         {L"D:\\Program Files", L"D:\\Program Files\\", L"D:\\Program Files (x86)\\Peldra",
          L"D:\\Program Files\\..\\Peldra", L"E:\\Peldra", L"Peldra"})
        EXPECT_FALSE(Pd::Core::Detail::IsUnderFolder(folder, programFiles)) << fs::path(folder).string();
    EXPECT_FALSE(Pd::Core::Detail::IsUnderFolder(L"D:\\Program Files\\Peldra", L""));

    wchar_t machine[MAX_PATH] = {};
    ASSERT_GT(::ExpandEnvironmentStringsW(L"%ProgramFiles%", machine, MAX_PATH), 0u);
    EXPECT_TRUE(Pd::Core::IsUnderProgramFiles(std::wstring(machine) + L"\\Peldra"));
    EXPECT_FALSE(Pd::Core::IsUnderProgramFiles(L"C:\\Peldra"));
}

TEST(RelativePaths, ExtendedPrefixCountsOnlyOnBoth)
{
    EXPECT_EQ(RelativePath(L"\\\\?\\D:\\a\\b", L"\\\\?\\D:\\a"), L"b");
    EXPECT_EQ(RelativePath(L"\\\\?\\D:\\a\\b", L"D:\\a"), L"");
    EXPECT_EQ(RelativePath(L"D:\\a", L"D:\\a"), L".");
    EXPECT_EQ(RelativePath(L"D:\\a", L"D:\\a\\b\\c"), L"..\\..");
    EXPECT_EQ(RelativePath(L"D:\\a", L"E:\\a"), L"");
    EXPECT_EQ(RelativePath(L"a\\b", L"D:\\a"), L"");
}

TEST(FreeSpace, IsThatOfTheNearestExistingParentAndUnknownWithoutOne)
{
    PdTest::ScratchFolder scratch;
    constexpr auto unknown = std::numeric_limits<std::uint64_t>::max();
    const auto existing = Pd::Core::FreeSpace(scratch.Path().wstring());
    const auto missing = Pd::Core::FreeSpace((scratch.Path() / L"not" / L"yet").wstring());
    ASSERT_NE(existing, unknown);
    ASSERT_NE(missing, unknown);
    // The volume may change a little between the two queries, never by a gigabyte.
    EXPECT_LT(existing > missing ? existing - missing : missing - existing, 1ull << 30);

    // Wine maps only a few drive letters; a missing one has no parent to ask.
    std::wstring drive;
    for (wchar_t letter = L'Q'; letter <= L'Y' && drive.empty(); ++letter)
        if (!fs::exists(std::wstring(1, letter) + L":\\"))
            drive = std::wstring(1, letter) + L":";
    ASSERT_FALSE(drive.empty());
    EXPECT_EQ(Pd::Core::FreeSpace(drive + L"\\Peldra\\release"), unknown);
    EXPECT_EQ(Pd::Core::FreeSpace(drive), unknown);
}

class RemoveTree : public ::testing::Test
{
protected:
    Pd::Result<> Remove(const fs::path& path, int retries)
    {
        since_ = std::chrono::steady_clock::now();
        return Pd::Install::Detail::RemoveTreeWith(path.wstring(), retries,
                                                   [this](std::chrono::steady_clock::time_point until) {
                                                       ++waits_;
                                                       ahead_ = until - std::chrono::steady_clock::now();
                                                       afterEarlier_ = until - since_;
                                                       if (onWait_)
                                                           onWait_();
                                                       since_ = std::chrono::steady_clock::now();
                                                   });
    }

    // Opened without delete sharing: Windows refuses to delete the file while it is held.
    static Pd::UniqueFile Hold(const fs::path& file)
    {
        return Pd::UniqueFile(
            ::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    }

    PdTest::ScratchFolder scratch_;
    int waits_ = 0;
    // How far ahead the last wait was to end, and how far after the end of the wait before it (or
    // the start): its attempt fell between the two, however late the waits were called.
    std::chrono::steady_clock::duration ahead_{};
    std::chrono::steady_clock::duration afterEarlier_{};
    std::chrono::steady_clock::time_point since_;
    std::function<void()> onWait_;
};

TEST_F(RemoveTree, RemovesAFileOrAFolderWithEverythingBelowItReadOnlyFilesIncluded)
{
    const fs::path tree = scratch_.Path() / L"tree";
    PdTest::WriteBytes(tree / L"a.txt", "a");
    PdTest::WriteBytes(tree / L"sub" / L"deeper" / L"b.bin", "bb");
    fs::create_directories(tree / L"empty");
    PdTest::WriteBytes(tree / L"sub" / L"ro.txt", "r");
    ASSERT_TRUE(::SetFileAttributesW((tree / L"sub" / L"ro.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(Remove(tree, 0));
    EXPECT_FALSE(fs::exists(tree));
    EXPECT_TRUE(fs::exists(scratch_.Path()));

    const fs::path file = scratch_.Write(L"single.txt", "x");
    ASSERT_TRUE(Remove(file, 0));
    EXPECT_FALSE(fs::exists(file));
    // Past MAX_PATH, where Wine gives no final path and the place is read on the volume.
    const std::wstring deep = (tree / std::wstring(120, L'd') / std::wstring(120, L'e')).wstring();
    ASSERT_TRUE(Pd::Install::CreateFoldersBelow(scratch_.Path().wstring(), deep));
    ASSERT_TRUE(Pd::Install::WriteWholeFile(scratch_.Path().wstring(), deep + L"\\kernel", "k"));
    EXPECT_TRUE(Remove(deep + L"\\kernel", 0));
    EXPECT_TRUE(Remove(tree, 0));
    EXPECT_FALSE(fs::exists(tree));
    // What is not there is gone already.
    EXPECT_TRUE(Remove(scratch_.Path() / L"missing", 20));
    EXPECT_TRUE(Remove(scratch_.Path() / L"missing" / L"deeper" / L"file", 20));
    EXPECT_EQ(waits_, 0);
}

TEST_F(RemoveTree, UnreadableStatusIsAFailureNotSuccess)
{
    // A malformed name cannot be looked at: that proves nothing was there to delete.
    const fs::path path = scratch_.Path() / L"bad<name";
    auto result = Remove(path, 2);
    ASSERT_FALSE(result);
    EXPECT_TRUE(result.error().starts_with(L"Deleting " + path.wstring() + L": ")) << result.error();
    EXPECT_TRUE(result.error().ends_with(L"(code 123)")) << result.error();
    EXPECT_EQ(waits_, 2);
}

TEST_F(RemoveTree, HeldFileIsRetriedAfterEachWaitAndTheRestGoesAtOnce)
{
    const fs::path tree = scratch_.Path() / L"tree";
    const fs::path held = tree / L"held.bin";
    PdTest::WriteBytes(held, "held");
    PdTest::WriteBytes(tree / L"free.txt", "free");
    Pd::UniqueFile lock = Hold(held);
    ASSERT_TRUE(lock);
    onWait_ = [&] {
        EXPECT_FALSE(fs::exists(tree / L"free.txt")) << "the first attempt removes what it can";
        if (waits_ == 2)
            lock.Reset();
    };
    ASSERT_TRUE(Remove(tree, 5));
    EXPECT_EQ(waits_, 2);
    EXPECT_FALSE(fs::exists(tree));
}

TEST_F(RemoveTree, FileHeldThroughAllRetriesFailsWithTheLastErrorAfterWaitsOfOneSecond)
{
    const fs::path held = scratch_.Write(L"held.bin", "held");
    Pd::UniqueFile lock = Hold(held);
    ASSERT_TRUE(lock);
    auto result = Remove(held, 3);
    ASSERT_FALSE(result);
    EXPECT_EQ(waits_, 3) << "3 retries: 4 attempts with a wait between each";
    EXPECT_GE(afterEarlier_, 1s) << "a second after the attempt at least";
    EXPECT_LE(ahead_, 1s) << "a second after the attempt at most";
    EXPECT_TRUE(result.error().starts_with(L"Deleting " + held.wstring() + L": ")) << result.error();
    EXPECT_TRUE(result.error().ends_with(L"(code 32)")) << result.error();
    EXPECT_TRUE(fs::exists(held));
}

// Nothing behind a link is touched, wherever it is planted: in the tree (a folder or a file), as
// the path itself, on the way to it, or in a record below a folder. Windows opens a link as itself
// and deletes just the link; Wine follows it, so here every link is found by where its handle
// leads and refused at once, without retries. Nothing behind a link counts in a folder's size.
TEST_F(RemoveTree, NothingIsDeletedThroughALink)
{
    const fs::path outside = scratch_.Path() / L"outside";
    PdTest::WriteBytes(outside / L"keep.txt", std::string(4096, 'k'));
    const fs::path tree = scratch_.Path() / L"tree";
    const fs::path real = scratch_.Path() / L"real";
    PdTest::WriteBytes(real / L"tree" / L"kept.txt", "kept");
    PdTest::UnixLinks links;
    ASSERT_TRUE(links.Make(outside.wstring(), (scratch_.Path() / L"link").wstring()));
    ASSERT_TRUE(links.Make(real.wstring(), (scratch_.Path() / L"way").wstring()));
    struct Case
    {
        fs::path link; // made to point at target before each removal, in a fresh tree
        fs::path target;
        fs::path folder; // empty: RemoveTree, else RemoveTreeBelow(folder, path)
        fs::path path;
        fs::path refused; // the path the refusal names
    };
    for (const Case& item : {
             Case{tree / L"LocalState", outside, {}, tree, tree / L"LocalState"},
             Case{tree / L"sub" / L"kernel.new",
                  outside / L"keep.txt",
                  {},
                  tree,
                  tree / L"sub" / L"kernel.new"},
             Case{{}, {}, {}, scratch_.Path() / L"link", scratch_.Path() / L"link"},
             Case{{}, {}, {}, scratch_.Path() / L"way" / L"tree", scratch_.Path() / L"way" / L"tree"},
             Case{tree / L"tools", outside, tree, tree / L"tools" / L"keep.txt",
                  tree / L"tools" / L"keep.txt"},
         })
    {
        PdTest::WriteBytes(tree / L"own.txt", "own");
        PdTest::WriteBytes(tree / L"sub" / L"own.txt", "own");
        if (!item.link.empty())
        {
            ASSERT_TRUE(links.Make(item.target.wstring(), item.link.wstring()));
        }
        if (item.target == outside)
        {
            EXPECT_EQ(DirectorySize(tree.wstring()), 6u);
        }
        const auto removed =
            item.folder.empty()
                ? Remove(item.path, 3)
                : Pd::Install::Detail::RemoveTreeBelowWith(item.folder.wstring(), item.path.wstring(), 3,
                                                           [this](auto) { ++waits_; });
        ASSERT_FALSE(removed) << item.path.string();
        EXPECT_EQ(removed.error(),
                  L"Deleting " + item.path.wstring() + L": " +
                      Pd::Core::FormatText(Pd::TextId::ReachedThroughLink, item.refused.wstring()));
        EXPECT_EQ(PdTest::ReadBytes(outside / L"keep.txt"), std::string(4096, 'k'));
        EXPECT_EQ(PdTest::ReadBytes(real / L"tree" / L"kept.txt"), "kept");
        if (item.path == tree)
            PdTest::ExpectPaths({tree / L"own.txt", tree / L"sub" / L"own.txt"}, false);
        if (!item.link.empty())
        {
            ASSERT_TRUE(PdTest::RemoveUnixLink(item.link.wstring()));
        }
    }
    EXPECT_EQ(waits_, 0);
    // Without the links the same trees go whole.
    ASSERT_TRUE(Remove(tree, 0));
    EXPECT_FALSE(fs::exists(tree));
}

// A folder opened for listing and then swapped for a link (renamed away, a link in its place)
// leads nowhere else: an entry opened by its path afterwards is not the opened folder's entry.
TEST_F(RemoveTree, AnEntryOfAFolderSwappedForALinkIsNotTheOpenedFoldersEntry)
{
    const fs::path outside = scratch_.Path() / L"outside";
    PdTest::WriteBytes(outside / L"keep.txt", "keep");
    const fs::path folder = scratch_.Path() / L"LocalState";
    PdTest::WriteBytes(folder / L"keep.txt", "own");
    const auto open = [](const fs::path& path) {
        return Pd::UniqueFile(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    };
    Pd::UniqueFile opened = open(folder);
    ASSERT_TRUE(opened);
    const fs::path entry = folder / L"keep.txt";
    EXPECT_TRUE(Pd::Install::CheckPlaceIn(open(entry).Get(), opened.Get(), L"keep.txt", entry.wstring()));
    EXPECT_FALSE(
        Pd::Install::CheckPlaceIn(open(entry).Get(), opened.Get(), L"..\\keep.txt", entry.wstring()));

    ASSERT_TRUE(::MoveFileW(folder.c_str(), (scratch_.Path() / L"moved").c_str()));
    PdTest::UnixLinks links;
    ASSERT_TRUE(links.Make(outside.wstring(), folder.wstring()));
    const auto swapped =
        Pd::Install::CheckPlaceIn(open(entry).Get(), opened.Get(), L"keep.txt", entry.wstring());
    ASSERT_FALSE(swapped);
    EXPECT_EQ(swapped.error(), Pd::Core::FormatText(Pd::TextId::ReachedThroughLink, entry.wstring()));
}

TEST(DriveRoot, IsTheDriveVolumeOrShareAPathLiesOn)
{
    struct Case
    {
        const wchar_t* path;
        const wchar_t* root;
    };
    for (const Case& item : {Case{L"C:\\Users\\me\\AppData", L"C:\\"}, Case{L"d:\\", L"d:\\"},
                             Case{L"\\\\?\\C:\\Program Files\\Peldra", L"\\\\?\\C:\\"},
                             Case{L"\\\\?\\Volume{1234}\\Tovik", L"\\\\?\\Volume{1234}\\"},
                             Case{L"\\\\server\\share\\Tovik\\x", L"\\\\server\\share\\"},
                             Case{L"\\\\server\\share", L"\\\\server\\share\\"},
                             Case{L"\\\\?\\UNC\\server\\share\\Tovik", L"\\\\?\\UNC\\server\\share\\"}})
        EXPECT_EQ(Pd::Install::DriveRoot(item.path), item.root) << fs::path(item.path).string();
}

TEST_F(RemoveTree, DriveRootIsNeverRemoved)
{
    for (const wchar_t* root : {L"C:\\", L"C:\\.", L"Z:\\tmp\\.."})
    {
        auto result = Remove(root, 3);
        ASSERT_FALSE(result) << root;
        EXPECT_TRUE(result.error().ends_with(L"(code 5)")) << result.error();
    }
    EXPECT_EQ(waits_, 0);
    EXPECT_TRUE(fs::exists(L"C:\\windows\\system32"));
}

} // namespace
