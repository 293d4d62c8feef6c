// Removing and measuring folder trees, with waits counted instead of slept and links made the
// Unix way (Wine cannot make Windows links).
#include "core/release/FileTree.h"

#include "core/Handles.h"
#include "tests/core/release/LoopbackServer.h"
#include "tests/core/ScratchFolder.h"
#include "tests/support/UnixLink.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

namespace
{

namespace fs = std::filesystem;
using Pd::Install::DirectorySize;

class RemoveTree : public ::testing::Test
{
protected:
    Pd::Result<> Remove(const fs::path& path, int retries)
    {
        return Pd::Install::Detail::RemoveTreeWith(path.wstring(), retries,
                                                   [this](std::chrono::steady_clock::time_point) {
                                                       ++waits_;
                                                       if (onWait_)
                                                           onWait_();
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
    EXPECT_EQ(waits_, 0);
}

TEST_F(RemoveTree, MissingPathSucceedsAtOnceWithoutWaiting)
{
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

TEST_F(RemoveTree, FileHeldThroughAllRetriesFailsWithTheLastError)
{
    const fs::path held = scratch_.Write(L"held.bin", "held");
    Pd::UniqueFile lock = Hold(held);
    ASSERT_TRUE(lock);

    auto result = Remove(held, 3);
    ASSERT_FALSE(result);
    EXPECT_EQ(waits_, 3) << "3 retries: 4 attempts with a wait between each";
    EXPECT_TRUE(result.error().starts_with(L"Deleting " + held.wstring() + L": ")) << result.error();
    EXPECT_TRUE(result.error().ends_with(L"(code 32)")) << result.error();
    EXPECT_TRUE(fs::exists(held));
}

TEST_F(RemoveTree, WaitsUntilOneSecondAfterTheFailedAttempt)
{
    const fs::path held = scratch_.Write(L"held.bin", "held");
    Pd::UniqueFile lock = Hold(held);
    std::chrono::steady_clock::time_point asked{};
    const auto before = std::chrono::steady_clock::now();
    auto result = Pd::Install::Detail::RemoveTreeWith(
        held.wstring(), 1, [&](std::chrono::steady_clock::time_point until) { asked = until; });
    EXPECT_FALSE(result);
    EXPECT_GE(asked - before, std::chrono::seconds(1));
    EXPECT_LE(asked - std::chrono::steady_clock::now(), std::chrono::seconds(1));
}

// Windows removes a directory link as itself with RemoveDirectoryW. Wine follows the link there and
// answers "not empty", so under Wine the link stays and the removal fails; either way nothing
// behind the link may be touched.
TEST_F(RemoveTree, NeverEntersALinkToAFolder)
{
    const fs::path outside = scratch_.Path() / L"outside";
    PdTest::WriteBytes(outside / L"keep.txt", "keep");
    const fs::path tree = scratch_.Path() / L"tree";
    PdTest::WriteBytes(tree / L"own.txt", "own");
    PdTest::UnixLinks links;
    ASSERT_TRUE(links.Make(outside.wstring(), (tree / L"link").wstring()));
    ASSERT_TRUE(links.Make(outside.wstring(), (scratch_.Path() / L"link").wstring()));
    ASSERT_EQ(::GetFileAttributesW((tree / L"link").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT,
              DWORD{FILE_ATTRIBUTE_REPARSE_POINT});

    static_cast<void>(Remove(tree, 0));
    static_cast<void>(Remove(scratch_.Path() / L"link", 0));
    EXPECT_FALSE(fs::exists(tree / L"own.txt"));
    EXPECT_EQ(PdTest::ReadBytes(outside / L"keep.txt"), "keep");
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

TEST(DirectorySize, AddsTheFilesAtEveryLevel)
{
    PdTest::ScratchFolder scratch;
    PdTest::WriteBytes(scratch.Path() / L"a.bin", std::string(1000, 'a'));
    PdTest::WriteBytes(scratch.Path() / L"sub" / L"b.bin", std::string(234, 'b'));
    PdTest::WriteBytes(scratch.Path() / L"sub" / L"deeper" / L"c.bin", std::string(5, 'c'));
    fs::create_directories(scratch.Path() / L"empty");
    EXPECT_EQ(DirectorySize(scratch.Path().wstring()), 1239u);
    EXPECT_EQ(DirectorySize((scratch.Path() / L"sub").wstring()), 239u);
}

TEST(DirectorySize, MissingFolderAndFileAreZero)
{
    PdTest::ScratchFolder scratch;
    EXPECT_EQ(DirectorySize((scratch.Path() / L"missing").wstring()), 0u);
    EXPECT_EQ(DirectorySize(scratch.Write(L"file.bin", "12345").wstring()), 0u);
}

TEST(DirectorySize, DoesNotFollowLinksToFolders)
{
    PdTest::ScratchFolder scratch;
    PdTest::WriteBytes(scratch.Path() / L"outside" / L"big.bin", std::string(4096, 'x'));
    PdTest::WriteBytes(scratch.Path() / L"tree" / L"small.bin", std::string(10, 's'));
    PdTest::UnixLinks links;
    ASSERT_TRUE(
        links.Make((scratch.Path() / L"outside").wstring(), (scratch.Path() / L"tree" / L"link").wstring()));
    EXPECT_EQ(DirectorySize((scratch.Path() / L"tree").wstring()), 10u);
}

} // namespace
